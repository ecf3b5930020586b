#include "soak_load.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <utility>

#include "fixtures/bounded_tcp.h"
#include "fixtures/fixture_renderer_documents.h"
#include "lan_http_connection.h"
#include "lan_namespace.h"
#include "media_pattern.h"

namespace tavrin::bench {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint64_t kMiB = 1024 * 1024;
constexpr char kTvAddress[] = "10.77.0.2";
constexpr char kPhoneAddress[] = "10.77.0.3";
constexpr char kTv2Address[] = "10.77.0.4";
constexpr char kGroup[] = "239.255.255.250";
constexpr int kSsdpPort = 1900;
constexpr char kAvTransport[] = "urn:schemas-upnp-org:service:AVTransport:1";
constexpr char kControlPath[] = "/_urn:schemas-upnp-org:service:AVTransport_control";
// Long enough for a loaded machine of two cores; a request that takes this
// long is a fault.
constexpr milliseconds kHttpTimeout(30000);
constexpr milliseconds kSearchTimeout(3000);

// A UDP socket bound to the address (port 0: any), or -1.
int udpSocket(const std::string& address, int port, bool reuse) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  if (reuse) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, address.c_str(), &at.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool sendDatagram(int fd, const std::string& bytes, const std::string& address, int port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
  return ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(bytes.size());
}

std::string soapRequest(const SoakTarget& target, const std::string& action, const std::string& arguments) {
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
      "<u:" + action + " xmlns:u=\"" + kAvTransport + "\"><InstanceID>0</InstanceID>" + arguments + "</u:" +
      action + "></s:Body></s:Envelope>\r\n";
  return std::string("POST ") + kControlPath + " HTTP/1.1\r\n"
         "Host: " + target.address + ":" + std::to_string(target.rendererPort) + "\r\n"
         "Content-Type: text/xml; charset=\"utf-8\"\r\n"
         "SOAPAction: \"" + kAvTransport + "#" + action + "\"\r\n"
         "User-Agent: soak-phone/1.0\r\n"
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string getRequest(const SoakTarget& target, int port, const std::string& path, const std::string& extra) {
  return "GET " + path + " HTTP/1.1\r\nHost: " + target.address + ":" + std::to_string(port) + "\r\n" + extra +
         "\r\n";
}

// The value of a header line of an SSDP datagram, by name in any case;
// empty when none.
std::string ssdpHeader(const std::string& datagram, const std::string& name) {
  for (size_t start = 0; start < datagram.size();) {
    size_t end = datagram.find("\r\n", start);
    if (end == std::string::npos) end = datagram.size();
    const std::string line = datagram.substr(start, end - start);
    if (line.size() > name.size() && line[name.size()] == ':' &&
        strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
      const size_t value = line.find_first_not_of(' ', name.size() + 1);
      return value == std::string::npos ? std::string() : line.substr(value);
    }
    start = end + 2;
  }
  return {};
}

}  // namespace

ErrorLog::ErrorLog(size_t shown) : shown_(shown), began_(Clock::now()) {}

void ErrorLog::add(const std::string& what) {
  const uint64_t number = ++count_;
  if (number > shown_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  const double seconds = std::chrono::duration<double>(Clock::now() - began_).count();
  std::fprintf(stderr, "error %llu at %.1f s: %s%s\n", static_cast<unsigned long long>(number), seconds,
               what.c_str(), number == shown_ ? " (further errors are counted only)" : "");
}

SoakLoad::SoakLoad(SoakCounters& counters, ErrorLog& errors) : counters_(counters), errors_(errors) {}

SoakLoad::~SoakLoad() { stop(); }

void SoakLoad::stop() {
  stopping_ = true;
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  threads_.clear();
}

bool SoakLoad::startFixtureDevices(int count) {
  std::promise<bool> ready;
  std::future<bool> listening = ready.get_future();
  threads_.emplace_back(&SoakLoad::fixtureDevices, this, count, std::move(ready));
  return listening.wait_for(std::chrono::seconds(10)) == std::future_status::ready && listening.get();
}

void SoakLoad::startClients(const SoakTarget& target, int tvs, int controlConnections) {
  for (int i = 0; i < tvs; ++i) threads_.emplace_back(&SoakLoad::tv, this, target, i);
  for (int i = 0; i < controlConnections; ++i) threads_.emplace_back(&SoakLoad::controlConnection, this, target, i);
  threads_.emplace_back(&SoakLoad::searcher, this, target);
}

// Renderers on tv2 as plain as a TV's: they answer every M-SEARCH with one
// answer per device and serve each description on one connection, closed
// after the answer.
void SoakLoad::fixtureDevices(int count, std::promise<bool> ready) {
  if (!enterLanHost("tv2", kTv2Address)) {
    errors_.add("fixture devices: cannot enter tv2's network namespace");
    ready.set_value(false);
    return;
  }
  const int ssdp = udpSocket("0.0.0.0", kSsdpPort, true);
  ip_mreq membership{};
  ::inet_pton(AF_INET, kGroup, &membership.imr_multiaddr);
  ::inet_pton(AF_INET, kTv2Address, &membership.imr_interface);
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  ::inet_pton(AF_INET, kTv2Address, &at.sin_addr);
  socklen_t length = sizeof at;
  const bool ok = ssdp >= 0 && listener >= 0 &&
                  ::setsockopt(ssdp, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0 &&
                  ::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                  ::listen(listener, 16) == 0 &&
                  ::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length) == 0;
  std::vector<testing::FixtureDevice> devices;
  for (int i = 1; ok && i <= count; ++i) {
    devices.push_back(
        testing::makeFixtureDevice(testing::FixtureProfile::Dlna, i, "soak", kTv2Address, ntohs(at.sin_port), 0));
  }
  ready.set_value(ok);
  while (ok && !stopping()) {
    pollfd events[2] = {{ssdp, POLLIN, 0}, {listener, POLLIN, 0}};
    if (::poll(events, 2, 200) <= 0) continue;
    if (events[0].revents & POLLIN) {
      char buffer[2048];
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      const ssize_t got = ::recvfrom(ssdp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
      char sender[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
      // Only the program's searches count; phone's searches to the group
      // are answered all the same, as a TV would.
      if (got > 0 && std::string(buffer, static_cast<size_t>(got)).rfind("M-SEARCH", 0) == 0) {
        if (std::string(sender) == "10.77.0.1") ++counters_.fixtureSearches;
        for (const testing::FixtureDevice& device : devices) {
          sendDatagram(ssdp, testing::ssdpSearchAnswer(device), sender, ntohs(from.sin_port));
        }
      }
    }
    if (events[1].revents & POLLIN) {
      const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (client < 0) continue;
      const auto deadline = Clock::now() + std::chrono::seconds(5);
      std::string request;
      while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd readable{client, POLLIN, 0};
        char buffer[2048];
        if (::poll(&readable, 1, testing::msLeft(deadline)) != 1) break;
        const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        request.append(buffer, static_cast<size_t>(got));
      }
      const size_t pathStart = request.find(" /d/");
      const int index = pathStart == std::string::npos ? 0 : std::atoi(request.c_str() + pathStart + 4);
      if (index >= 1 && index <= count) {
        const std::string body = testing::fixtureDescription(devices[static_cast<size_t>(index - 1)], "");
        testing::sendAllWithin(client,
                               "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n"
                               "Content-Length: " + std::to_string(body.size()) +
                                   "\r\nConnection: close\r\n\r\n" + body,
                               deadline);
        ++counters_.fixtureDescriptions;
      } else {
        errors_.add("fixture devices: a request for no description: " + request.substr(0, request.find("\r\n")));
        testing::sendAllWithin(client, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
                               deadline);
      }
      ::close(client);
    }
  }
  if (ssdp >= 0) ::close(ssdp);
  if (listener >= 0) ::close(listener);
}

// A TV playing the file: sequential ranges of 1-4 MiB, a seek now and then,
// and back to the start at the end, as a renderer streaming and skipping.
void SoakLoad::tv(SoakTarget target, int index) {
  const bool onTv = index % 2 == 0;
  const std::string name = "tv " + std::to_string(index) + " (" + (onTv ? "tv" : "tv2") + ")";
  if (!enterLanHost(onTv ? "tv" : "tv2", onTv ? kTvAddress : kTv2Address)) {
    errors_.add(name + ": cannot enter the network namespace");
    return;
  }
  std::mt19937_64 random(7000 + static_cast<uint64_t>(index));
  LanHttpConnection connection(target.address, target.mediaPort, kHttpTimeout);
  LanHttpAnswer answer;
  // The URL a push names: the path and a ten-digit stamp the server ignores.
  const std::string path = "/1?" + std::to_string(1700000000 + index);
  uint64_t position = random() % target.mediaSize;
  while (!stopping()) {
    if (random() % 10 == 0) position = random() % target.mediaSize;
    if (position >= target.mediaSize) position = 0;
    const uint64_t chunk = kMiB + random() % (3 * kMiB + 1);
    const uint64_t last = std::min(position + chunk, target.mediaSize) - 1;
    const std::string request =
        getRequest(target, target.mediaPort, path,
                   "User-Agent: soak-tv/1.0 DLNADOC/1.50\r\ngetcontentFeatures.dlna.org: 1\r\n"
                   "transferMode.dlna.org: Streaming\r\nRange: bytes=" + std::to_string(position) + "-" +
                       std::to_string(last) + "\r\n");
    const long connects = connection.connects();
    const std::string what = name + ": bytes=" + std::to_string(position) + "-" + std::to_string(last) + ": ";
    if (!connection.exchange(request, answer)) {
      errors_.add(what + connection.failure());
    } else if (answer.status != 206) {
      errors_.add(what + "status " + std::to_string(answer.status));
    } else if (answer.body.size() != last - position + 1) {
      errors_.add(what + std::to_string(answer.body.size()) + " bytes");
    } else if (answer.contentRange != "bytes " + std::to_string(position) + "-" + std::to_string(last) + "/" +
                                          std::to_string(target.mediaSize)) {
      errors_.add(what + "Content-Range " + answer.contentRange);
    } else if (const long long bad = mediaPatternMismatch(answer.body, position); bad >= 0) {
      errors_.add(what + "wrong byte at offset " + std::to_string(bad));
    } else {
      ++counters_.mediaRequests;
      counters_.mediaBytes += answer.body.size();
    }
    if (connects > 0 && connection.connects() > connects) ++counters_.reconnects;
    position = last + 1;
  }
}

// A phone app's control connection, kept alive: it casts a URL of its own,
// plays, polls the state and position as apps do, pauses and stops, and
// now and then reads the description again.
void SoakLoad::controlConnection(SoakTarget target, int index) {
  const std::string name = "control " + std::to_string(index);
  if (!enterLanHost("phone", kPhoneAddress)) {
    errors_.add(name + ": cannot enter phone's network namespace");
    return;
  }
  const std::vector<std::string> actions = {"SetAVTransportURI", "Play",     "GetTransportInfo", "GetPositionInfo",
                                            "GetPositionInfo",   "GetMediaInfo", "GetTransportInfo", "Pause",
                                            "Stop",              "description"};
  LanHttpConnection connection(target.address, target.rendererPort, kHttpTimeout);
  LanHttpAnswer answer;
  const std::string expectedUrlBase =
      "<URLBase>http://" + target.address + ":" + std::to_string(target.rendererPort) + "</URLBase>";
  for (uint64_t round = 0; !stopping(); ++round) {
    for (const std::string& action : actions) {
      if (stopping()) break;
      std::string request;
      if (action == "SetAVTransportURI") {
        request = soapRequest(target, action,
                              "<CurrentURI>http://10.77.0.9/soak/" + std::to_string(index) + "/" +
                                  std::to_string(round) + ".m3u8?a=1&amp;b=2</CurrentURI>"
                                  "<CurrentURIMetaData></CurrentURIMetaData>");
        ++counters_.setUriSent;
      } else if (action == "description") {
        request = getRequest(target, target.rendererPort, "/description.xml", "User-Agent: soak-phone/1.0\r\n");
      } else {
        request = soapRequest(target, action, "");
      }
      // The description names the address the last search answer named,
      // once the renderer has answered one.
      const bool answeredBefore = counters_.searchesAnswered > 0;
      const long connects = connection.connects();
      const std::string what = name + ": " + action + ": ";
      if (!connection.exchange(request, answer)) {
        errors_.add(what + connection.failure());
        continue;
      }
      if (connects > 0 && connection.connects() > connects) ++counters_.reconnects;
      std::string wrong;
      if (answer.status != 200) {
        wrong = "status " + std::to_string(answer.status);
      } else if (action == "description") {
        if (answer.body.find("<friendlyName>Morla小站</friendlyName>") == std::string::npos) {
          wrong = "no friendly name";
        } else if (answeredBefore && answer.body.find(expectedUrlBase) == std::string::npos) {
          wrong = "URLBase is not " + expectedUrlBase;
        }
      } else if (answer.body.find("<u:" + action + "Response xmlns:u=\"" + kAvTransport + "\">") ==
                 std::string::npos) {
        wrong = "no response element";
      } else if (action == "GetMediaInfo" && (answer.body.find("<CurrentURI>http://10.77.0.9/soak/") ==
                                                  std::string::npos ||
                                              answer.body.find(".m3u8?a=1&amp;b=2</CurrentURI>") ==
                                                  std::string::npos)) {
        wrong = "CurrentURI is not a cast URL as sent";
      } else if (action == "GetTransportInfo" &&
                 answer.body.find("<CurrentTransportStatus>OK</CurrentTransportStatus>") == std::string::npos) {
        wrong = "no transport status";
      }
      if (!wrong.empty()) {
        errors_.add(what + wrong + ": " + answer.body.substr(0, 300));
        continue;
      }
      ++counters_.controlRequests;
      if (action == "SetAVTransportURI") ++counters_.setUriAnswered;
    }
  }
}

// A phone app looking for renderers: one M-SEARCH a second to the program's
// SSDP socket (every fifth to the group), each answered by the sniffing
// renderer with its location on host.
void SoakLoad::searcher(SoakTarget target) {
  if (!enterLanHost("phone", kPhoneAddress)) {
    errors_.add("searcher: cannot enter phone's network namespace");
    return;
  }
  const int fd = udpSocket(kPhoneAddress, 0, false);
  if (fd < 0) {
    errors_.add("searcher: no socket");
    return;
  }
  in_addr interface{};
  ::inet_pton(AF_INET, kPhoneAddress, &interface);
  ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface);
  const std::string location =
      "http://" + target.address + ":" + std::to_string(target.rendererPort) + "/description.xml";
  const std::string search = testing::ssdpSearch();
  for (uint64_t number = 0; !stopping(); ++number) {
    const auto began = Clock::now();
    const bool toGroup = number % 5 == 4;
    if (!sendDatagram(fd, search, toGroup ? kGroup : target.address, kSsdpPort)) {
      errors_.add("searcher: cannot send");
    }
    ++counters_.searchesSent;
    bool answered = false;
    const auto deadline = began + kSearchTimeout;
    while (!answered && Clock::now() < deadline) {
      pollfd readable{fd, POLLIN, 0};
      if (::poll(&readable, 1, testing::msLeft(deadline)) != 1) break;
      char buffer[2048];
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) continue;
      const std::string datagram(buffer, static_cast<size_t>(got));
      // Fixture devices answer the searches to the group as well.
      if (ssdpHeader(datagram, "USN") != "uuid:KQVDKQVDKQVD::upnp:rootdevice") continue;
      answered = true;
      if (ssdpHeader(datagram, "Location") != location) {
        errors_.add("searcher: answer names " + ssdpHeader(datagram, "Location"));
      } else {
        ++counters_.searchesAnswered;
      }
    }
    if (!answered) {
      errors_.add(std::string("searcher: no answer within 3 s to a search sent to ") +
                  (toGroup ? "the group" : "host"));
    }
    // A second between searches; an answer that came late to the previous one
    // is read and dropped by the next wait.
    std::this_thread::sleep_until(std::max(Clock::now(), began + std::chrono::seconds(1)));
  }
  ::close(fd);
}

}  // namespace tavrin::bench
