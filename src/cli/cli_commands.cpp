#include "cli/cli_commands.h"

#include <sys/stat.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "app/app_state.h"
#include "app/startup_sequence.h"
#include "cli/address_choice.h"
#include "cli/cli_options.h"
#include "cli/complete_renderer.h"
#include "cli/interrupt_signals.h"
#include "control/av_transport.h"
#include "httpserv/media_server.h"
#include "httpserv/sniffing_renderer.h"
#include "platform/byte_range.h"
#include "platform/free_port.h"
#include "platform/key_value_map.h"
#include "platform/local_addresses.h"
#include "platform/message.h"
#include "platform/text_encoding.h"
#include "ssdp/ssdp_discovery.h"
#include "ssdp/udp_multicast_socket.h"

namespace tavrin {
namespace {

constexpr double kPollSeconds = 0.05;

// Everything a command prints on standard error goes through here, from
// worker threads too.
// Control bytes as "%XX", so that what peers send cannot steer the terminal.
std::string printableText(const std::string& text) {
  std::string printable;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      static const char kHex[] = "0123456789ABCDEF";
      printable += '%';
      printable += kHex[byte >> 4];
      printable += kHex[byte & 15];
    } else {
      printable += c;
    }
  }
  return printable;
}

class ErrorLog {
 public:
  explicit ErrorLog(std::ostream& err) : err_(err) {}
  void line(const std::string& utf8) {
    std::lock_guard<std::mutex> lock(mutex_);
    err_ << utf8 << std::endl;
  }

 private:
  std::ostream& err_;
  std::mutex mutex_;
};

// The program's state for one command: messages shown on standard error
// (the last one remembered), the chosen address, and everything freed in the
// program's order on the way out.
class CliSession {
 public:
  CliSession(ErrorLog& log, bool verbose) : log_(log), verbose_(verbose) {
    previousSink_ = setMessageSink([this](const std::string& gbkText) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        lastMessage_ = gbkText;
      }
      log_.line(gbkToUtf8(gbkText));
    });
    initAppState(state);
    state.messageCallback = showMessage;
  }
  ~CliSession() {
    stopRenderer(state);
    if (state.mediaServer) state.mediaServer->stop();
    shutdownAppState(state);
    setMessageSink(previousSink_);
  }
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  bool startDiscovery() {
    DatagramObserver observer;
    if (verbose_) {
      observer = [this](const UdpReceiveResult& datagram) {
        const std::string from = "datagram from " + datagram.senderAddress + ":" + std::to_string(datagram.senderPort);
        if (datagram.discarded) {
          log_.line(from + " discarded (empty or too long)");
          return;
        }
        const std::string firstLine = datagram.data.substr(0, datagram.data.find_first_of("\r\n"));
        log_.line(from + ", " + std::to_string(datagram.data.size()) + " bytes: " + printableText(firstLine));
      };
    }
    return tavrin::startDiscovery(
        state,
        [this](int index) {
          if (verbose_) log_.line("found device " + std::to_string(index) + ": " + deviceLine(index));
        },
        std::move(observer));
  }

  std::string deviceLine(int index) const {
    return gbkToUtf8(state.deviceList->getText(index, "name")) + "\t" +
           gbkToUtf8(state.deviceList->getText(index, "url"));
  }

  std::string lastMessage() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastMessage_;
  }

  // A handler that logs each request when verbose.
  PathHandler logged(PathHandler handler) {
    if (!verbose_) return handler;
    return [this, handler](const HttpRequest& request, HttpResponse& response) {
      log_.line("request " + request.method() + " " + request.path());
      return handler(request, response);
    };
  }

  AppState state;

 private:
  ErrorLog& log_;
  bool verbose_;
  MessageSink previousSink_;
  std::mutex mutex_;
  std::string lastMessage_;
};

int usageError(const std::string& text, std::ostream& err) {
  err << "tavrin-cli: " << text << " (try 'tavrin-cli --help')" << std::endl;
  return kExitUsage;
}

// The 1-based index of the device the options name, waiting for discovery
// up to the wait; 0 when it was not found (or Ctrl-C came first).
int waitForDevice(CliSession& session, const CliOptions& options, InterruptSignals& signals) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(options.waitSeconds));
  const std::string gbkName = utf8ToGbk(options.deviceName);
  for (;;) {
    const int count = session.state.deviceList->count();
    if (options.deviceIndex > 0 && count >= options.deviceIndex) return options.deviceIndex;
    for (int i = 1; options.deviceIndex == 0 && i <= count; ++i) {
      if (session.state.deviceList->getText(i, "name") == gbkName) return i;
    }
    if (std::chrono::steady_clock::now() >= deadline || signals.waitFor(kPollSeconds)) return 0;
  }
}

std::string deviceNotFound(const CliOptions& options) {
  return options.deviceIndex > 0 ? "no device number " + std::to_string(options.deviceIndex) + " found"
                                 : "no device named \"" + options.deviceName + "\" found";
}

// Discovery, then the device the options name (1-based); 0 when there is
// none, with the status to exit with: success when Ctrl-C came first.
int discoverDevice(CliSession& session, const CliOptions& options, ErrorLog& log, InterruptSignals& signals,
                   int& status) {
  if (!session.startDiscovery()) return 0;
  const int device = waitForDevice(session, options, signals);
  if (device == 0 && signals.interrupted()) {
    status = kExitSuccess;
  } else if (device == 0) {
    log.line("tavrin-cli: " + deviceNotFound(options));
  }
  return device;
}

int runList(const CliOptions& options, std::ostream& out, ErrorLog& log, InterruptSignals& signals) {
  CliSession session(log, options.verbose);
  if (!session.startDiscovery()) return kExitFailure;
  signals.waitFor(options.waitSeconds);
  const std::vector<KeyValue> devices = session.state.deviceList->items();
  if (options.json) {
    std::string json = "[";
    for (size_t i = 0; i < devices.size(); ++i) {
      if (i > 0) json += ",";
      json += devices[i].asMap().toJson();
    }
    out << gbkToUtf8(json + "]") << std::endl;
  } else {
    for (size_t i = 0; i < devices.size(); ++i) {
      out << (i + 1) << "\t" << session.deviceLine(static_cast<int>(i + 1)) << "\n";
    }
    out << std::flush;
  }
  return kExitSuccess;
}

std::string absolutePath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// One request for the served file as the progress line tells it: who asked
// ("-" when the address is unknown), what, and what goes back.
struct ProgressLine {
  std::string asked;
  uint64_t bytes = 0;  // of the answer's body
  uint64_t size = 0;   // of the file

  // The line once the exchange is over; without the whole answer gone out,
  // the library does not tell how much of it left.
  std::string finished(bool whole) const {
    const std::string of = std::to_string(bytes) + " of " + std::to_string(size) + " bytes";
    return asked + (whole ? of + " sent" : "cut short before " + of + " were sent");
  }
};

ProgressLine progressLine(const HttpRequest& request, const HttpResponse& response) {
  const std::string range = request.header("Range");
  const std::string& peer = request.peerAddress();
  ProgressLine line;
  line.asked = (peer.empty() ? "-" : peer) + " " + request.method() + " " + request.path() + " range " +
               (range.empty() ? "-" : range) + ": ";
  line.size = response.file().size();
  line.bytes = line.size;
  const ByteRange asked = parseByteRange(range, line.size);
  std::string status = "200";
  if (asked.kind == ByteRange::Kind::partial) {
    line.bytes = asked.last - asked.first + 1;
    status = "206 bytes " + std::to_string(asked.first) + "-" + std::to_string(asked.last);
  } else if (asked.kind == ByteRange::Kind::unsatisfiable) {
    line.bytes = 0;
    status = "416";
  }
  if (request.method() == "HEAD") line.bytes = 0;
  line.asked += status + ", ";
  return line;
}

int pushFile(CliSession& session, const std::string& path, int device, ErrorLog& log, InterruptSignals& signals) {
  AppState& state = session.state;
  state.mediaServer->registerPathHandler(
      session.logged([&state, &log](const HttpRequest& request, HttpResponse& response) {
        if (!serveMediaFile(state, request, response)) {
          log.line(progressLine(request, response).asked + "no file (404)");
          return false;
        }
        response.onFinished([&log, line = progressLine(request, response)](bool whole) {
          log.line(line.finished(whole));
        });
        return true;
      }),
      "/1");
  const int port = findFreePort(kFirstMediaServerPort);
  if (port == -1 || !state.mediaServer->start(port)) {
    showMessage(utf8ToGbk("本地服务器创建失败"));
    return kExitFailure;
  }
  state.mediaServerPort = port;
  pushLocalFile(state, path, device - 1, device);
  if (session.lastMessage() != utf8ToGbk("完成")) return kExitFailure;
  log.line("serving " + gbkToUtf8(path) + " on port " + std::to_string(port) + " until Ctrl-C");
  signals.waitFor(-1);
  return kExitSuccess;
}

int runPush(const CliOptions& options, ErrorLog& log, InterruptSignals& signals) {
  struct stat info {};
  const bool isFile = stat(options.target.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  if (!isFile && options.target.find("://") == std::string::npos) {
    log.line("tavrin-cli: " + options.target + " is neither a URL nor a file");
    return kExitFailure;
  }
  CliSession session(log, options.verbose);
  int status = kExitFailure;
  const int device = discoverDevice(session, options, log, signals, status);
  if (device == 0) return status;
  if (isFile) return pushFile(session, utf8ToGbk(absolutePath(options.target)), device, log, signals);
  pushUrl(session.state, utf8ToGbk(options.target), device);
  showMessage(utf8ToGbk("完成"));
  return kExitSuccess;
}

int runNowPlaying(const CliOptions& options, std::ostream& out, ErrorLog& log, InterruptSignals& signals) {
  CliSession session(log, options.verbose);
  int status = kExitFailure;
  const int device = discoverDevice(session, options, log, signals, status);
  if (device == 0) return status;
  const std::string uri = fetchCurrentUri(session.state, device);
  if (uri.empty()) {
    log.line("tavrin-cli: the device reports no current URI");
    return kExitFailure;
  }
  out << gbkToUtf8(uri) << std::endl;
  return kExitSuccess;
}

int runSniff(const CliOptions& options, std::ostream& out, ErrorLog& log, InterruptSignals& signals) {
  CliSession session(log, options.verbose);
  AppState& state = session.state;
  std::mutex outputMutex;
  int captured = 0;
  const bool json = options.json;
  // Captures arrive on worker threads: numbered and printed under one lock,
  // so numbers follow the order of the lines.
  const CaptureRoutine capture = [&](const std::string& uri) {
    std::lock_guard<std::mutex> lock(outputMutex);
    out << sniffLine(++captured, uri, json) << std::endl;
  };
  if (!startRenderer(state, utf8ToGbk(options.rendererName), capture)) {
    log.line("tavrin-cli: the renderer could not start (no free port from 18889)");
    return kExitFailure;
  }
  RenderingSettings settings;
  const PathHandler handler = [&state, &settings, complete = options.complete](const HttpRequest& request,
                                                                                HttpResponse& response) {
    return complete ? handleCompleteRendererRequest(state, settings, request, response)
                    : handleRendererRequest(state, request, response);
  };
  if (options.complete || options.verbose) {
    for (const char* path : {"/description.xml", "/AVTransport.scpd.xml",
                             "/_urn:schemas-upnp-org:service:AVTransport_control", kNotFoundRoute}) {
      state.rendererServer->registerPathHandler(session.logged(handler), path);
    }
    for (const char* const* path = completeRendererPaths(); *path; ++path) {
      state.rendererServer->registerPathHandler(session.logged(handler), *path);
    }
  }
  if (!session.startDiscovery()) {
    stopRenderer(state);
    return kExitFailure;
  }
  log.line("renderer \"" + options.rendererName + "\" on port " + std::to_string(state.rendererPort.load()) +
           "; casts are printed until Ctrl-C");
  signals.waitFor(-1);
  // The server stops before the output it writes to goes.
  stopRenderer(state);
  return kExitSuccess;
}

}  // namespace

std::string sniffLine(int index, const std::string& gbkUrl, bool json) {
  if (json) {
    KeyValueMap line;
    line.setInt("index", index);
    line.setText("url", gbkUrl);
    return gbkToUtf8(line.toJson());
  }
  return std::to_string(index) + "\t" + printableText(gbkToUtf8(gbkUrl));
}

int runCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  const CliParseResult parsed = parseCliArguments(arguments);
  if (!parsed.ok) return usageError(parsed.error, err);
  const CliOptions& options = parsed.options;
  if (options.version) {
    out << "tavrin-cli " << TAVRIN_VERSION << std::endl;
    return kExitSuccess;
  }
  if (options.help) {
    out << cliUsage(options.command) << std::flush;
    return kExitSuccess;
  }
  std::string error;
  if (!chooseLocalAddress(options.interfaceName, options.address, error)) {
    err << "tavrin-cli: " << error << std::endl;
    return kExitFailure;
  }
  // Blocked before the first thread starts, so that every thread inherits it.
  InterruptSignals signals;
  ErrorLog log(err);
  int status = kExitFailure;
  switch (options.command) {
    case CliCommand::List: status = runList(options, out, log, signals); break;
    case CliCommand::Push: status = runPush(options, log, signals); break;
    case CliCommand::NowPlaying: status = runNowPlaying(options, out, log, signals); break;
    case CliCommand::Sniff: status = runSniff(options, out, log, signals); break;
    case CliCommand::None: break;
  }
  setLocalAddressSource(nullptr);
  return status;
}

}  // namespace tavrin
