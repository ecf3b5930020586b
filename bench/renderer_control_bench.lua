-- wrk script of renderer_control_bench: posts one AVTransport action, named
-- after "--" on wrk's command line (GetTransportInfo or SetAVTransportURI),
-- as a phone app writes it; a second argument "close" asks for a new
-- connection per request. Prints one line for the benchmark to read:
--   result <requests> <duration us> <connect> <read> <write> <status> <timeout>
local service = "urn:schemas-upnp-org:service:AVTransport:1"

function init(args)
  local action = args[1] or "GetTransportInfo"
  local arguments = "<InstanceID>0</InstanceID>"
  if action == "SetAVTransportURI" then
    arguments = arguments .. "<CurrentURI>http://10.77.0.9/live/stream.m3u8?a=1&amp;b=2</CurrentURI>" ..
        "<CurrentURIMetaData></CurrentURIMetaData>"
  end
  if args[2] == "close" then
    wrk.headers["Connection"] = "close"
  end
  wrk.method = "POST"
  wrk.headers["Content-Type"] = 'text/xml; charset="utf-8"'
  wrk.headers["SOAPAction"] = '"' .. service .. "#" .. action .. '"'
  wrk.body = '<?xml version="1.0" encoding="utf-8"?>\r\n' ..
      '<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" ' ..
      's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>' ..
      "<u:" .. action .. ' xmlns:u="' .. service .. '">' .. arguments .. "</u:" .. action .. ">" ..
      "</s:Body></s:Envelope>\r\n"
end

function done(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("result %d %d %d %d %d %d %d\n", summary.requests, summary.duration,
                         e.connect, e.read, e.write, e.status, e.timeout))
end
