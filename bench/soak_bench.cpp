// Soak: the program's core under mixed load for a long time, in a test LAN
// of its own. The core runs as the window runs it in a process of its own
// (soak_tavrin) on host, serving a local file on "/1", with discovery and
// the sniffing renderer started. Against it, from the LAN's other hosts:
// 16 TVs reading the file in ranges, 64 kept-alive control connections of
// phone apps, a phone searching every second, and fixture renderers on tv2
// that answer the core's own searches, which it repeats every few seconds.
// Prints one line a minute (throughput, searches and devices found, the
// core's memory and descriptors, errors so far), and the core's resident
// memory and open descriptors after the warm-up and at the end. Fails when
// any error was counted or the core grew beyond the noise bound.
// Runs only on the LAN's host: scripts/bench soak [--minutes M] ...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "fixtures/lan_process.h"
#include "media_pattern.h"
#include "piped_child.h"
#include "process_usage.h"
#include "soak_load.h"

namespace tavrin::bench {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;
constexpr double kMiB = 1024.0 * 1024.0;

struct Options {
  int minutes = 30;
  int warmupSeconds = 60;
  int sizeMiB = 256;
  int tvs = 16;
  int connections = 64;
  int searchSeconds = 5;
  int fixtureDevices = 4;
};

// Growth of the core between the sample after the warm-up and the last one
// that still counts as noise: allocator arenas and caches settle during the
// warm-up, and a description fetch or a connection being set up may hold a
// descriptor or two at the moment of a sample (settledUsage takes the
// quietest of a few samples). Descriptors on the media
// file are held only while a range is being sent, at most one per TV, and
// are judged apart.
constexpr long kRssNoiseKiB = 4096;
constexpr double kRssNoiseShare = 0.05;
constexpr int kFdNoise = 4;

// The core's side of the conversation, with the messages it may show in
// between counted as errors.
class Core {
 public:
  Core(const std::string& mediaPath, ErrorLog& errors) : child_({TAVRIN_SOAK_TAVRIN, mediaPath}), errors_(errors) {}

  pid_t pid() const { return child_.pid(); }
  // The next line that starts with the word; false on time-out.
  bool reply(const std::string& word, std::string& rest, std::chrono::milliseconds timeout) {
    std::string line;
    const auto deadline = Clock::now() + timeout;
    while (child_.readLine(line, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()))) {
      if (line.rfind("message ", 0) == 0) {
        errors_.add("the core showed the message \"" + line.substr(8) + "\"");
      } else if (line.rfind(word + " ", 0) == 0 || line == word) {
        rest = line.size() > word.size() ? line.substr(word.size() + 1) : "";
        return true;
      } else {
        errors_.add("the core said \"" + line + "\" while " + word + " was awaited");
        if (line.rfind("failed", 0) == 0) return false;
      }
    }
    return false;
  }
  bool ask(const std::string& command, const std::string& word, std::string& rest) {
    return child_.sendLine(command) && reply(word, rest, seconds(30));
  }
  int quit(std::chrono::milliseconds timeout) {
    std::string rest;
    const bool said = child_.sendLine("quit") && reply("bye", rest, timeout);
    const int status = child_.waitForExit(seconds(5));
    return said ? status : -1;
  }

 private:
  PipedChild child_;
  ErrorLog& errors_;
};

std::string usageText(const ProcessUsage& usage) {
  char text[96];
  std::snprintf(text, sizeof text, "rss %.1f MiB, fds %d (%d on the file)", usage.rssKiB / 1024.0, usage.fds,
                usage.fdsOnFile);
  return text;
}

// A sample of the core that leaves out what is only passing: of a few
// samples within half a second, the one with the fewest descriptors not on
// the media file.
ProcessUsage settledUsage(pid_t pid, const std::string& mediaPath) {
  ProcessUsage best = readProcessUsage(pid, mediaPath);
  for (int i = 0; i < 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const ProcessUsage usage = readProcessUsage(pid, mediaPath);
    if (usage.ok && (!best.ok || usage.fds - usage.fdsOnFile < best.fds - best.fdsOnFile)) best = usage;
  }
  return best;
}

Options readOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const int value = std::max(0, std::atoi(argv[i + 1]));
    const std::string name = argv[i];
    if (name == "--minutes") options.minutes = std::max(1, value);
    if (name == "--warmup-seconds") options.warmupSeconds = value;
    if (name == "--size-mib") options.sizeMiB = std::max(8, value);
    if (name == "--tvs") options.tvs = value;
    if (name == "--connections") options.connections = value;
    if (name == "--search-seconds") options.searchSeconds = std::max(1, value);
    if (name == "--fixture-devices") options.fixtureDevices = value;
  }
  return options;
}

int run(const Options& options) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/tavrin-soak-XXXXXX";
  if (!::mkdtemp(&dir[0])) {
    std::perror("mkdtemp");
    return 2;
  }
  struct Cleanup {
    std::string dir;
    ~Cleanup() {
      std::error_code ignored;
      std::filesystem::remove_all(dir, ignored);
    }
  } cleanup{dir};
  const std::string mediaPath = dir + "/film.mp4";
  const uint64_t mediaSize = static_cast<uint64_t>(options.sizeMiB) * 1024 * 1024;
  if (!writeMediaPatternFile(mediaPath, mediaSize)) {
    std::fprintf(stderr, "soak_bench: cannot write %s\n", mediaPath.c_str());
    return 2;
  }

  ErrorLog errors;
  SoakCounters counters;
  SoakLoad load(counters, errors);
  if (!load.startFixtureDevices(options.fixtureDevices)) {
    std::fprintf(stderr, "soak_bench: the fixture devices on tv2 did not start\n");
    return 2;
  }
  Core core(mediaPath, errors);
  std::string ready;
  if (!core.reply("ready", ready, seconds(30))) {
    std::fprintf(stderr, "soak_bench: the core did not start\n");
    return 2;
  }
  SoakTarget target;
  int pid = 0;
  std::istringstream(ready) >> pid >> target.mediaPort >> target.rendererPort;
  target.mediaSize = mediaSize;
  const int expectedDevices = options.fixtureDevices + 1;  // and the sniffing renderer itself

  std::printf("soak: %d minutes after %d s of warm-up; core pid %d, media server :%d (%d MiB file), "
              "sniffing renderer :%d\n",
              options.minutes, options.warmupSeconds, static_cast<int>(core.pid()), target.mediaPort,
              options.sizeMiB, target.rendererPort);
  std::printf("load: %d TVs (tv, tv2) reading 1-4 MiB ranges; %d control connections (phone); an M-SEARCH a "
              "second (phone); the core's search every %d s, answered by %d fixture devices (tv2) and itself\n",
              options.tvs, options.connections, options.searchSeconds, options.fixtureDevices);
  std::fflush(stdout);
  load.startClients(target, options.tvs, options.connections);

  const auto began = Clock::now();
  const auto measured = began + seconds(options.warmupSeconds);
  auto nextSearch = began + seconds(options.searchSeconds);
  auto nextMinute = measured + std::chrono::minutes(1);
  int minute = 0;
  int searchesInMinute = 0;
  long long devicesInMinute = 0;
  ProcessUsage startUsage;
  bool measuring = false;
  bool coreAlive = true;
  struct Snapshot {
    uint64_t bytes, media, control, sent, answered;
  };
  auto snapshot = [&counters] {
    return Snapshot{counters.mediaBytes, counters.mediaRequests, counters.controlRequests, counters.searchesSent,
                    counters.searchesAnswered};
  };
  Snapshot last{};
  bool firstSearch = true;
  while (coreAlive && minute < options.minutes) {
    const auto now = Clock::now();
    if (now >= nextSearch) {
      nextSearch += seconds(options.searchSeconds);
      std::string found;
      if (!core.ask("search", "searched", found)) {
        errors.add("the core did not answer a search command");
        coreAlive = false;
        break;
      }
      const int devices = std::atoi(found.c_str());
      // The first count belongs to the search at start-up, sent before the
      // sniffing renderer ran.
      if (!firstSearch && devices != expectedDevices) {
        errors.add("a search found " + std::to_string(devices) + " devices, not " + std::to_string(expectedDevices));
      }
      if (!firstSearch && now >= measured) {
        ++searchesInMinute;
        devicesInMinute += devices;
      }
      firstSearch = false;
    }
    if (!measuring && now >= measured) {
      measuring = true;
      startUsage = settledUsage(core.pid(), mediaPath);
      last = snapshot();
      searchesInMinute = 0;
      devicesInMinute = 0;
      std::printf("start (after warm-up): %s; errors so far %llu\n", usageText(startUsage).c_str(),
                  static_cast<unsigned long long>(errors.count()));
      std::fflush(stdout);
    }
    if (measuring && now >= nextMinute) {
      nextMinute += std::chrono::minutes(1);
      ++minute;
      const Snapshot current = snapshot();
      const ProcessUsage usage = settledUsage(core.pid(), mediaPath);
      std::printf("minute %2d: media %7.1f MiB/s %6.1f req/s | control %7.1f req/s | searches %2d, devices "
                  "found %3lld | m-search answered %llu/%llu | %s | errors %llu\n",
                  minute, (current.bytes - last.bytes) / kMiB / 60.0, (current.media - last.media) / 60.0,
                  (current.control - last.control) / 60.0, searchesInMinute, devicesInMinute,
                  static_cast<unsigned long long>(current.answered - last.answered),
                  static_cast<unsigned long long>(current.sent - last.sent), usageText(usage).c_str(),
                  static_cast<unsigned long long>(errors.count()));
      std::fflush(stdout);
      last = current;
      searchesInMinute = 0;
      devicesInMinute = 0;
    }
    if (!readProcessUsage(core.pid()).ok) {
      errors.add("the core is gone");
      coreAlive = false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }

  const ProcessUsage endUsage = settledUsage(core.pid(), mediaPath);
  load.stop();
  std::string stats;
  long long captures = 0, badCaptures = 0, devicesTotal = 0;
  if (coreAlive && core.ask("stats", "stats", stats)) {
    std::istringstream(stats) >> captures >> badCaptures >> devicesTotal;
  } else {
    errors.add("the core gave no statistics");
  }
  if (badCaptures > 0) errors.add(std::to_string(badCaptures) + " captured URLs were not the URLs cast");
  const long long sent = static_cast<long long>(counters.setUriSent.load());
  const long long answered = static_cast<long long>(counters.setUriAnswered.load());
  if (captures + badCaptures < answered || captures + badCaptures > sent) {
    errors.add("the capture routine ran " + std::to_string(captures + badCaptures) + " times for " +
               std::to_string(answered) + " answered (" + std::to_string(sent) + " sent) SetAVTransportURI");
  }
  const int exitStatus = coreAlive ? core.quit(seconds(20)) : -1;
  if (exitStatus != 0) errors.add("the core did not end cleanly (status " + std::to_string(exitStatus) + ")");

  const double totalSeconds = std::chrono::duration<double>(Clock::now() - began).count();
  std::printf("totals over %.0f s: media %.1f GiB in %llu ranges; control %llu requests; SetAVTransportURI %lld "
              "answered, %lld captured; m-search %llu/%llu answered; the core's searches seen by the fixture "
              "devices %llu, descriptions served %llu, devices found %lld; reconnects %llu\n",
              totalSeconds, counters.mediaBytes / kMiB / 1024.0,
              static_cast<unsigned long long>(counters.mediaRequests.load()),
              static_cast<unsigned long long>(counters.controlRequests.load()), answered, captures,
              static_cast<unsigned long long>(counters.searchesAnswered.load()),
              static_cast<unsigned long long>(counters.searchesSent.load()),
              static_cast<unsigned long long>(counters.fixtureSearches.load()),
              static_cast<unsigned long long>(counters.fixtureDescriptions.load()), devicesTotal,
              static_cast<unsigned long long>(counters.reconnects.load()));
  const long rssGrowth = endUsage.rssKiB - startUsage.rssKiB;
  const int fdGrowth = (endUsage.fds - endUsage.fdsOnFile) - (startUsage.fds - startUsage.fdsOnFile);
  const long rssBound = kRssNoiseKiB + static_cast<long>(kRssNoiseShare * static_cast<double>(startUsage.rssKiB));
  std::printf("start: %s\nend:   %s\ngrowth: rss %+.1f MiB (bound %.1f MiB), fds not on the file %+d (bound %d), "
              "fds on the file %d at the end (bound %d, one per TV)\n",
              usageText(startUsage).c_str(), usageText(endUsage).c_str(), rssGrowth / 1024.0, rssBound / 1024.0,
              fdGrowth, kFdNoise, endUsage.fdsOnFile, options.tvs);
  const bool grew = !startUsage.ok || !endUsage.ok || rssGrowth > rssBound || fdGrowth > kFdNoise ||
                    endUsage.fdsOnFile > options.tvs;
  std::printf("errors: %llu\n%s\n", static_cast<unsigned long long>(errors.count()),
              errors.count() == 0 && !grew ? "soak passed" : "soak FAILED");
  return errors.count() == 0 && !grew ? 0 : 1;
}

}  // namespace
}  // namespace tavrin::bench

int main(int argc, char** argv) {
  if (!tavrin::testing::hasLocalAddress("10.77.0.1")) {
    std::fprintf(stderr, "soak_bench runs only on the test LAN's host: scripts/lan exec host %s\n", argv[0]);
    return 1;
  }
  return tavrin::bench::run(tavrin::bench::readOptions(argc, argv));
}
