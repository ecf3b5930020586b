// Start-up cost on the test LAN: the time from the start of the process to
// its first M-SEARCH on the wire, seen by a capture socket joined to the
// SSDP group on tv, and the resident memory a few seconds later, once the
// program idles; for Tavrin and for a minimal Qt Widgets window program that
// sends one M-SEARCH once its window is up, both on Qt's offscreen platform.
// Runs only on the LAN's host: scripts/bench startup. It starts itself on tv
// with --capture to play the capture side.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/lan_process.h"

namespace tavrin {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr char kHostAddress[] = "10.77.0.1";
constexpr char kTvAddress[] = "10.77.0.2";

// steady_clock is the system's monotonic clock, the same in every network
// namespace, so the two sides' readings compare.
long long nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The capture side on tv: prints "ready" once it is in the group, then
// "msearch <ns>" for every M-SEARCH from host, for `lifetime` seconds.
int capture(int lifetime) {
  if (!testing::hasLocalAddress(kTvAddress)) {
    std::fprintf(stderr, "startup_bench --capture runs only on the test LAN's tv\n");
    return 3;
  }
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 4;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(1900);
  ip_mreq membership{};
  inet_pton(AF_INET, "239.255.255.250", &membership.imr_multiaddr);
  inet_pton(AF_INET, kTvAddress, &membership.imr_interface);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
    close(fd);
    return 4;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  const auto deadline = Clock::now() + seconds(lifetime);
  char buffer[2048];
  while (Clock::now() < deadline) {
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, 200) != 1) continue;
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t got = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    const long long at = nowNs();
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
    if (got >= 8 && std::string(buffer, 8) == "M-SEARCH" && std::string(address) == kHostAddress) {
      std::printf("msearch %lld\n", at);
      std::fflush(stdout);
    }
  }
  close(fd);
  return 0;
}

// VmRSS of the process in KiB; 0 when unknown.
long residentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

pid_t startProgram(const std::string& path) {
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

void endProgram(pid_t pid) {
  kill(pid, SIGTERM);
  const auto deadline = Clock::now() + seconds(5);
  while (Clock::now() < deadline) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

struct Run {
  double startMs = -1;
  long rssKib = 0;
};

// One start of the program: the time to its first M-SEARCH seen on tv and
// its RSS `settle` later; startMs stays -1 when no search came.
Run measure(const std::string& path, const testing::LanProcess& capture, milliseconds settle) {
  Run run;
  const size_t before = capture.countLines("msearch ");
  const long long start = nowNs();
  const pid_t pid = startProgram(path);
  if (pid < 0) return run;
  if (capture.waitForLines("msearch ", before + 1, seconds(20))) {
    size_t seen = 0;
    for (const std::string& line : capture.lines()) {
      if (line.rfind("msearch ", 0) != 0 || seen++ != before) continue;
      run.startMs = static_cast<double>(std::atoll(line.c_str() + 8) - start) / 1e6;
    }
    std::this_thread::sleep_for(settle);
    run.rssKib = residentKib(pid);
  }
  endProgram(pid);
  return run;
}

template <typename T>
T median(std::vector<T> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Summary {
  bool ok = true;
  double medianMs = 0;
  double fastestMs = 0;
  double rssMib = 0;
};

Summary summarize(const std::vector<Run>& runs) {
  Summary summary;
  std::vector<double> times;
  std::vector<long> rss;
  for (const Run& run : runs) {
    if (run.startMs < 0 || run.rssKib <= 0) summary.ok = false;
    times.push_back(run.startMs);
    rss.push_back(run.rssKib);
  }
  if (!summary.ok || runs.empty()) return Summary{false};
  summary.medianMs = median(times);
  summary.fastestMs = *std::min_element(times.begin(), times.end());
  summary.rssMib = static_cast<double>(median(rss)) / 1024.0;
  return summary;
}

}  // namespace
}  // namespace tavrin

int main(int argc, char** argv) {
  using namespace tavrin;
  if (argc == 3 && std::string(argv[1]) == "--capture") return capture(std::clamp(std::atoi(argv[2]), 1, 600));
  if (!testing::hasLocalAddress(kHostAddress)) {
    std::fprintf(stderr, "startup_bench runs only on the test LAN's host: scripts/bench startup\n");
    return 3;
  }
  int rounds = 5;
  int settleMs = 3000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--rounds") rounds = std::clamp(std::atoi(argv[i + 1]), 1, 50);
    if (arg == "--settle-ms") settleMs = std::clamp(std::atoi(argv[i + 1]), 100, 30000);
  }
  // Both programs draw on Qt's offscreen platform: no display is needed.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const int lifetime = rounds * 2 * (settleMs / 1000 + 12) + 10;
  testing::LanProcess capturer(TAVRIN_LAN_SCRIPT, "tv", {testing::ownProgramPath(), "--capture",
                                                         std::to_string(lifetime)},
                               seconds(lifetime + 5));
  if (!capturer.waitForLine("ready", seconds(10))) {
    std::fprintf(stderr, "startup_bench: the capture on tv did not start\n");
    return 4;
  }
  std::vector<Run> tavrinRuns;
  std::vector<Run> minimalRuns;
  // Alternating, so that both see the same state of the machine.
  for (int round = 0; round < rounds; ++round) {
    tavrinRuns.push_back(measure(TAVRIN_PROGRAM, capturer, milliseconds(settleMs)));
    minimalRuns.push_back(measure(TAVRIN_MINIMAL_QT_WINDOW, capturer, milliseconds(settleMs)));
  }
  const Summary tavrinSummary = summarize(tavrinRuns);
  const Summary minimalSummary = summarize(minimalRuns);
  if (!tavrinSummary.ok || !minimalSummary.ok) {
    std::fprintf(stderr, "startup_bench: a start sent no M-SEARCH within 20 s or its RSS was unreadable\n");
    return 5;
  }
  std::printf("startup: process start to the first M-SEARCH seen on tv, and VmRSS %d ms later; "
              "median of %d starts, QT_QPA_PLATFORM=offscreen\n", settleMs, rounds);
  for (const auto& [name, summary] : {std::pair{"tavrin", tavrinSummary}, std::pair{"minimal Qt window", minimalSummary}}) {
    std::printf(" %-18s first M-SEARCH median %8.2f ms (fastest %8.2f ms), idle RSS %7.2f MiB\n", name,
                summary.medianMs, summary.fastestMs, summary.rssMib);
  }
  std::printf(" ratio tavrin/minimal: start-up time %.2f, idle RSS %.2f\n",
              tavrinSummary.medianMs / minimalSummary.medianMs, tavrinSummary.rssMib / minimalSummary.rssMib);
  return 0;
}
