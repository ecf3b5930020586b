// The sniffing renderer's control path under load, beside gmediarender's
// (Debian's libupnp renderer) in the same run on the test LAN: the program's
// renderer runs on host, gmediarender on tv, and wrk on phone posts
// GetTransportInfo and then SetAVTransportURI to each, over 64 connections
// for a fixed time, in turns whose order alternates from round to round.
// Each action is measured twice: with connections kept as each server
// allows (libupnp closes every connection after its answer, the program's
// server keeps them), and with a new connection for every request on both.
// Prints the answered requests per second of each (median of the rounds)
// and their ratio. Runs only on the LAN's host: scripts/bench renderer.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "fixtures/lan_process.h"
#include "fixtures/real_renderers.h"
#include "httpserv/sniffing_renderer.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

using std::chrono::seconds;

struct Options {
  int seconds = 5;
  int rounds = 3;
  int connections = 64;
};

struct WrkRun {
  bool ok = false;
  long long requests = 0;  // answers read
  double seconds = 0;
  long long errors = 0;  // failed connects and writes, non-2xx answers, time-outs
  long long closes = 0;  // connections the server closed ("read errors" to wrk)
  std::string failure;

  double perSecond() const { return seconds > 0 ? static_cast<double>(requests) / seconds : 0; }
};

// One wrk run from phone against the control URL with the action's body.
WrkRun runWrk(const std::string& url, const std::string& action, bool newConnections, const Options& options) {
  WrkRun run;
  const int limit = options.seconds + 20;
  testing::LanProcess wrk(TAVRIN_LAN_SCRIPT, "phone",
                          {"wrk", "-t2", "-c" + std::to_string(options.connections),
                           "-d" + std::to_string(options.seconds) + "s", "--timeout", "5s", "-s",
                           TAVRIN_RENDERER_BENCH_SCRIPT, url, "--", action, newConnections ? "close" : "keep"},
                          seconds(limit));
  auto line = wrk.waitForLine("result ", seconds(limit));
  wrk.waitForExit(seconds(5));
  if (!line) {
    run.failure = "wrk gave no result for " + url;
    return run;
  }
  std::istringstream fields(line->substr(7));
  long long durationUs = 0;
  long long connect = 0, read = 0, write = 0, status = 0, timeout = 0;
  fields >> run.requests >> durationUs >> connect >> read >> write >> status >> timeout;
  run.errors = connect + write + status + timeout;
  run.closes = read;
  run.seconds = static_cast<double>(durationUs) / 1e6;
  run.ok = run.requests > 0 && run.seconds > 0;
  if (!run.ok) run.failure = "wrk counted no request for " + url;
  return run;
}

std::string fromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// Before the load: the action, posted once from phone by the fixture phone
// app, gets a 200 answer with its response element, so that wrk measures
// real answers.
bool answersAction(const std::string& url, const std::string& action) {
  std::vector<std::string> command = {TAVRIN_PHONE_APP, "--seconds", "10"};
  if (action == "SetAVTransportURI") {
    command.insert(command.end(), {"cast", url, "http://10.77.0.9/live/stream.m3u8?a=1&amp;b=2"});
  } else {
    command.insert(command.end(), {"actions", url, action});
  }
  testing::LanProcess phone(TAVRIN_LAN_SCRIPT, "phone", command, seconds(15));
  if (phone.waitForExit(seconds(15)) != 0) return false;
  auto line = phone.waitForLine(action == "SetAVTransportURI" ? "cast 200 " : "action " + action + " 200 ",
                                seconds(3));
  if (!line) return false;
  const std::string body = fromHex(line->substr(line->rfind(' ') + 1));
  return body.find(action + "Response") != std::string::npos;
}

// The runs of one server for one action and connection mode.
struct Side {
  std::vector<double> rates;
  long long answers = 0;
  long long errors = 0;
  long long closes = 0;

  void add(const WrkRun& run) {
    rates.push_back(run.perSecond());
    answers += run.requests;
    errors += run.errors;
    closes += run.closes;
  }
  // The median of the runs.
  double rate() const {
    std::vector<double> sorted = rates;
    std::sort(sorted.begin(), sorted.end());
    return sorted.empty() ? 0 : sorted[sorted.size() / 2];
  }
};

int runBench(const Options& options) {
  std::atomic<long long> captured{0};
  AppState state;
  initAppState(state);
  if (!startRenderer(state, utf8ToGbk("Morla小站"), [&captured](const std::string&) { ++captured; })) {
    std::fprintf(stderr, "renderer_control_bench: the sniffing renderer did not start\n");
    shutdownAppState(state);
    return 2;
  }
  const std::string ours = "http://10.77.0.1:" + std::to_string(state.rendererPort.load()) +
                           "/_urn:schemas-upnp-org:service:AVTransport_control";

  testing::RealRenderer gmediarender(testing::RealRendererKind::kGmediarender, TAVRIN_LAN_SCRIPT);
  const int lifetime = 120 + options.rounds * 8 * (options.seconds + 25);
  if (!gmediarender.start(lifetime) || !gmediarender.waitUntilServing(30000)) {
    std::fprintf(stderr, "renderer_control_bench: gmediarender: %s\n", gmediarender.failure().c_str());
    shutdownAppState(state);
    return 2;
  }
  const std::string theirs = gmediarender.avTransportControlUrl();

  // A new connection per request leaves tens of thousands of phone's ports
  // in TIME_WAIT within seconds, and its connects grow slower as the run
  // goes on, against whichever server comes later: phone (a namespace of
  // the test LAN, not this machine's own) may reuse them.
  testing::LanProcess reuse(TAVRIN_LAN_SCRIPT, "phone", {"sysctl", "-qw", "net.ipv4.tcp_tw_reuse=1"}, seconds(10));
  if (reuse.waitForExit(seconds(10)) != 0) {
    std::fprintf(stderr, "renderer_control_bench: cannot set tcp_tw_reuse on phone\n");
    shutdownAppState(state);
    return 2;
  }

  int status = 0;
  std::printf("renderer control path: wrk on phone, 2 threads, %d connections, %d s per run, %d rounds\n",
              options.connections, options.seconds, options.rounds);
  std::printf("  tavrin       %s\n  gmediarender %s\n", ours.c_str(), theirs.c_str());
  for (const std::string action : {"GetTransportInfo", "SetAVTransportURI"}) {
    if (!answersAction(ours, action) || !answersAction(theirs, action)) {
      std::fprintf(stderr, "renderer_control_bench: %s is not answered by both renderers\n", action.c_str());
      status = 2;
      continue;
    }
    for (const bool newConnections : {false, true}) {
      const long long capturedBefore = captured;
      Side our;
      Side their;
      for (int round = 0; round < options.rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
          const bool oursNow = (round + turn) % 2 == 0;
          WrkRun run = runWrk(oursNow ? ours : theirs, action, newConnections, options);
          if (!run.ok) {
            std::fprintf(stderr, "renderer_control_bench: %s\n", run.failure.c_str());
            status = 2;
            continue;
          }
          (oursNow ? our : their).add(run);
        }
      }
      const double ratio = their.rate() > 0 ? our.rate() / their.rate() : 0;
      std::printf("  %-17s %-15s tavrin %7.0f req/s (errors %lld, closes %lld)   "
                  "gmediarender %7.0f req/s (errors %lld, closes %lld)   ratio %.2f\n",
                  action.c_str(), newConnections ? "new connections" : "kept as allowed", our.rate(), our.errors,
                  our.closes, their.rate(), their.errors, their.closes, ratio);
      if (action == "SetAVTransportURI") {
        std::printf("  %-33s the capture routine ran %lld times for %lld answers counted by wrk\n", "",
                    captured - capturedBefore, our.answers);
      }
      if (our.errors > 0 || their.errors > 0) status = 2;
    }
  }
  if (!gmediarender.running()) {
    std::fprintf(stderr, "renderer_control_bench: gmediarender ended during the run: %s\n",
                 gmediarender.failure().c_str());
    status = 2;
  }
  gmediarender.stop();
  shutdownAppState(state);
  return status;
}

}  // namespace
}  // namespace tavrin

int main(int argc, char** argv) {
  if (!tavrin::testing::hasLocalAddress("10.77.0.1")) {
    std::fprintf(stderr, "renderer_control_bench runs only on the test LAN's host: scripts/lan exec host %s\n",
                 argv[0]);
    return 1;
  }
  tavrin::Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const int value = std::max(1, std::atoi(argv[i + 1]));
    if (name == "--seconds") {
      options.seconds = value;
    } else if (name == "--rounds") {
      options.rounds = value;
    } else if (name == "--connections") {
      options.connections = value;
    }
  }
  return tavrin::runBench(options);
}
