// Serves a large file from EmbeddedHttpServer and from nginx (sendfile on)
// on 127.0.0.1 and prints how the embedded server does against nginx: the
// throughput of whole-file downloads, and the requests per second of 16
// clients reading random 1 MiB ranges. Usage:
//   http_server_bench [--size-mib N] [--seconds S] [--rounds R]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "loopback_fetcher.h"
#include "nginx_process.h"
#include "platform/embedded_http_server.h"

namespace tavrin::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t kMiB = 1024 * 1024;
constexpr int kConcurrentClients = 16;
const char kFileName[] = "film.mp4";

struct Options {
  uint64_t sizeMiB = 1024;
  int seconds = 10;
  int rounds = 3;
};

Options readOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const long value = std::atol(argv[i + 1]);
    if (value <= 0) continue;
    if (std::strcmp(argv[i], "--size-mib") == 0) options.sizeMiB = static_cast<uint64_t>(value);
    if (std::strcmp(argv[i], "--seconds") == 0) options.seconds = static_cast<int>(value);
    if (std::strcmp(argv[i], "--rounds") == 0) options.rounds = static_cast<int>(value);
  }
  return options;
}

// Incompressible bytes, so that nothing along the way can shortcut them.
bool writeTestFile(const std::string& path, uint64_t sizeMiB) {
  std::vector<char> block(kMiB);
  std::mt19937_64 random(20190705);
  for (size_t i = 0; i + 8 <= block.size(); i += 8) {
    const uint64_t value = random();
    std::memcpy(&block[i], &value, 8);
  }
  std::ofstream out(path, std::ios::binary);
  for (uint64_t i = 0; i < sizeMiB && out; ++i) {
    block[0] = static_cast<char>(i);  // no two blocks alike
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  out.close();
  return static_cast<bool>(out) && ::chmod(path.c_str(), 0644) == 0;
}

int freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  if (fd >= 0) ::close(fd);
  return port;
}

int startEmbedded(EmbeddedHttpServer& server) {
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 64; ++attempt) {
    const int port = 20000 + static_cast<int>(random() % 12000);
    if (server.start(port)) return port;
  }
  return 0;
}

// Bytes per second of one whole-file download; 0 when it failed.
double downloadRate(int port, uint64_t size) {
  LoopbackFetcher fetcher(port);
  const auto began = Clock::now();
  const int64_t received = fetcher.fetch(std::string("/") + kFileName, 200);
  const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
  if (received != static_cast<int64_t>(size) || seconds <= 0) return 0;
  return static_cast<double>(size) / seconds;
}

struct RangeResult {
  uint64_t requests = 0;
  uint64_t failures = 0;
  double seconds = 0;
};

// kConcurrentClients clients, each on its own kept-alive connection, read
// random 1 MiB ranges until the time is up.
RangeResult readRandomRanges(int port, uint64_t size, std::chrono::milliseconds duration) {
  std::atomic<uint64_t> requests{0};
  std::atomic<uint64_t> failures{0};
  const auto began = Clock::now();
  const auto deadline = began + duration;
  std::vector<std::thread> clients;
  for (int c = 0; c < kConcurrentClients; ++c) {
    clients.emplace_back([&, c] {
      LoopbackFetcher fetcher(port);
      std::mt19937_64 random(1000 + c);
      const uint64_t lastStart = size - kMiB;
      while (Clock::now() < deadline) {
        const uint64_t first = random() % (lastStart + 1);
        if (fetcher.fetch(std::string("/") + kFileName, 206, first, first + kMiB - 1) ==
            static_cast<int64_t>(kMiB)) {
          ++requests;
        } else {
          ++failures;
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  RangeResult result;
  result.requests = requests;
  result.failures = failures;
  result.seconds = std::chrono::duration<double>(Clock::now() - began).count();
  return result;
}

int run(const Options& options) {
  if (options.sizeMiB < 2) return 2;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tavrin-bench-XXXXXX";
  if (!::mkdtemp(&pattern[0])) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string workDir = pattern;
  struct Cleanup {
    std::string dir;
    ~Cleanup() {
      std::error_code ignored;
      std::filesystem::remove_all(dir, ignored);
    }
  } cleanup{workDir};

  // nginx's workers may run as another user: everything on the way is readable.
  const std::string root = workDir + "/www";
  ::chmod(workDir.c_str(), 0755);
  ::mkdir(root.c_str(), 0755);
  const std::string file = root + "/" + kFileName;
  const uint64_t size = options.sizeMiB * kMiB;
  std::printf("writing a %llu MiB test file in %s\n", static_cast<unsigned long long>(options.sizeMiB),
              workDir.c_str());
  std::fflush(stdout);
  if (!writeTestFile(file, options.sizeMiB)) {
    std::fprintf(stderr, "cannot write %s\n", file.c_str());
    return 1;
  }

  EmbeddedHttpServer server;
  server.registerPathHandler([&file](const HttpRequest&, HttpResponse& response) { return response.sendFile(file); },
                             std::string("/") + kFileName);
  const int ourPort = startEmbedded(server);
  if (ourPort == 0) {
    std::fprintf(stderr, "EmbeddedHttpServer did not start\n");
    return 1;
  }
  const int workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int nginxPort = freeLoopbackPort();
  NginxProcess nginx(workDir, root, nginxPort, workers);
  if (!nginx.isRunning()) {
    std::fprintf(stderr, "nginx did not start:\n%s\n", nginx.errorLog().c_str());
    return 1;
  }

  struct Peer {
    const char* name;
    int port;
  };
  const Peer peers[] = {{"EmbeddedHttpServer", ourPort}, {"nginx", nginxPort}};

  // Whole file: the best of several rounds, taken in turns, after a warm-up.
  double bestRate[2] = {0, 0};
  for (int round = 0; round <= options.rounds; ++round) {
    for (int p = 0; p < 2; ++p) {
      const double rate = downloadRate(peers[p].port, size);
      if (rate == 0) {
        std::fprintf(stderr, "%s: whole-file download failed\n", peers[p].name);
        return 1;
      }
      if (round > 0) bestRate[p] = std::max(bestRate[p], rate);
    }
  }

  // Random ranges: each server gets the same time, in two turns each.
  RangeResult ranges[2];
  const auto turn = std::chrono::milliseconds(options.seconds * 1000 / 2);
  for (int t = 0; t < 2; ++t) {
    for (int p = 0; p < 2; ++p) {
      const RangeResult result = readRandomRanges(peers[p].port, size, turn);
      ranges[p].requests += result.requests;
      ranges[p].failures += result.failures;
      ranges[p].seconds += result.seconds;
    }
  }

  const double throughputRatio = bestRate[0] / bestRate[1];
  const double rps[2] = {ranges[0].requests / ranges[0].seconds, ranges[1].requests / ranges[1].seconds};
  const double rpsRatio = rps[0] / rps[1];
  std::printf("\nwhole file, %llu MiB, best of %d:\n", static_cast<unsigned long long>(options.sizeMiB),
              options.rounds);
  for (int p = 0; p < 2; ++p) std::printf("  %-20s %9.1f MiB/s\n", peers[p].name, bestRate[p] / kMiB);
  std::printf("%d clients, random 1 MiB ranges, %d s each:\n", kConcurrentClients, options.seconds);
  for (int p = 0; p < 2; ++p) {
    std::printf("  %-20s %9.1f requests/s (%llu failed)\n", peers[p].name, rps[p],
                static_cast<unsigned long long>(ranges[p].failures));
  }
  std::printf("\nthroughput ratio (EmbeddedHttpServer / nginx): %.2f (target >= 0.90)\n", throughputRatio);
  std::printf("requests/s ratio (EmbeddedHttpServer / nginx): %.2f (target >= 0.80)\n", rpsRatio);
  return ranges[0].failures == 0 && ranges[1].failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace tavrin::bench

int main(int argc, char** argv) { return tavrin::bench::run(tavrin::bench::readOptions(argc, argv)); }
