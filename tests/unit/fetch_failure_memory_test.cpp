// Description locations that failed costly are not fetched again for a
// while: the memory's rules, the receive path that uses it, and the HTTP
// client's account of why an exchange brought no whole answer.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "httpclient/http_request.h"
#include "ssdp/device_list_builder.h"
#include "ssdp/fetch_failure_memory.h"
#include "ssdp/ssdp_discovery.h"

namespace tavrin {
namespace {

using Clock = FetchFailureMemory::Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(FetchFailureMemory, RemembersCostlyFailuresByLocationOrServerForAWhile) {
  const Clock::time_point t0 = Clock::now();
  const std::string a = "http://10.0.0.5:8080/a.xml";
  const std::string b = "http://10.0.0.5:8080/b.xml";
  const std::string otherPort = "http://10.0.0.5:8081/a.xml";

  struct Case {
    HttpFailure failure;
    bool skipsSame, skipsOtherPath, skipsOtherPort;
  };
  const Case cases[] = {
      {HttpFailure::none, false, false, false},
      {HttpFailure::other, false, false, false},        // refused, error page, bad URL
      {HttpFailure::unreachable, true, true, false},    // nothing answers on that port
      {HttpFailure::timedOut, true, false, false},      // one slow path of a server
      {HttpFailure::tooLarge, true, false, false},
  };
  for (const Case& c : cases) {
    FetchFailureMemory memory;
    memory.record(a, c.failure, t0);
    const int n = static_cast<int>(c.failure);
    EXPECT_EQ(memory.skips(a, t0 + seconds(1)), c.skipsSame) << n;
    EXPECT_EQ(memory.skips(b, t0 + seconds(1)), c.skipsOtherPath) << n;
    EXPECT_EQ(memory.skips(otherPort, t0 + seconds(1)), c.skipsOtherPort) << n;
    // Forgotten once the time is over.
    EXPECT_FALSE(memory.skips(a, t0 + FetchFailureMemory::kRememberFor)) << n;
    EXPECT_FALSE(memory.skips(b, t0 + FetchFailureMemory::kRememberFor)) << n;
  }
}

TEST(FetchFailureMemory, ASecondTimeOutUnderAnotherPathRemembersTheServer) {
  const Clock::time_point t0 = Clock::now();
  FetchFailureMemory memory;
  memory.record("http://10.0.0.5:8080/1", HttpFailure::timedOut, t0);
  EXPECT_FALSE(memory.skips("http://10.0.0.5:8080/2", t0));
  memory.record("http://10.0.0.5:8080/2", HttpFailure::timedOut, t0 + seconds(30));
  EXPECT_TRUE(memory.skips("http://10.0.0.5:8080/3", t0 + seconds(31)));
  // The host is compared without case; a port not named is 80.
  memory.record("http://TV:80/x", HttpFailure::unreachable, t0);
  EXPECT_TRUE(memory.skips("http://tv/y", t0 + seconds(1)));

  // Two time-outs further apart than the memory lasts are not counted together.
  FetchFailureMemory spread;
  spread.record("http://10.0.0.6/1", HttpFailure::timedOut, t0);
  spread.record("http://10.0.0.6/2", HttpFailure::timedOut, t0 + FetchFailureMemory::kRememberFor);
  EXPECT_FALSE(spread.skips("http://10.0.0.6/3", t0 + FetchFailureMemory::kRememberFor + seconds(1)));
}

TEST(FetchFailureMemory, StaysBoundedUnderAFloodOfDistinctLocations) {
  const Clock::time_point t0 = Clock::now();
  FetchFailureMemory memory;
  for (int i = 0; i < 5000; ++i) {
    const std::string server = "http://10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250);
    memory.record(server + "/d" + std::to_string(i), i % 2 ? HttpFailure::timedOut : HttpFailure::tooLarge,
                  t0 + milliseconds(i));
  }
  EXPECT_LE(memory.size(), 2 * FetchFailureMemory::kMaxEntries);
  // The latest failures are the ones kept.
  EXPECT_TRUE(memory.skips("http://10.0.19.249/d4999", t0 + milliseconds(5000)));
}

// The receive path with descriptions answered without the network: each
// fetch says how it ended.
class DescriptionFailureTest : public ::testing::Test {
 protected:
  void SetUp() override { initAppState(state_); }
  void TearDown() override { shutdownAppState(state_); }

  void answer(const std::string& location, const std::string& usn = "uuid:dev::upnp:rootdevice") {
    handleSsdpAnswer(state_,
                     "HTTP/1.1 200 OK\r\nLOCATION: " + location + "\r\nUSN: " + usn + "\r\n\r\n",
                     [this](const std::string& fetched, HttpExchange& exchange) {
                       fetched_.push_back(fetched);
                       limits_ = exchange.limits;
                       auto found = outcomes_.find(fetched);
                       exchange.failure = found == outcomes_.end() ? HttpFailure::none : found->second;
                       return exchange.failure == HttpFailure::none ? description_ : std::string();
                     });
  }

  AppState state_;
  std::map<std::string, HttpFailure> outcomes_;
  std::vector<std::string> fetched_;
  HttpTimeLimits limits_{0, 0, 0};
  const std::string description_ =
      "<root xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\"><device><dlna:X_DLNADOC>DMR-1.50</dlna:X_DLNADOC>"
      "<friendlyName>TV</friendlyName></device></root>";
};

TEST_F(DescriptionFailureTest, SlowOrSilentLocationsAreFetchedOnceAndWorkingOnesEveryTime) {
  const std::string slow = "http://10.77.0.4:5000/drip.xml";
  const std::string hole = "http://10.77.0.4:5001/x.xml";
  const std::string good = "http://10.77.0.4:5000/good.xml";
  outcomes_[slow] = HttpFailure::timedOut;
  outcomes_[hole] = HttpFailure::unreachable;
  for (int i = 0; i < 3; ++i) {
    answer(slow);
    answer(hole);
    answer(hole + "?" + std::to_string(i));
    answer(good);
  }
  // The slow location once; the unreachable server once under any path; the
  // working location on the slow one's server for every answer.
  EXPECT_EQ(fetched_, (std::vector<std::string>{slow, hole, good, good, good}));
  EXPECT_EQ(state_.deviceList->count(), 1);
  EXPECT_EQ(limits_.connect, kDescriptionTimeLimits.connect);
  EXPECT_EQ(limits_.stall, kDescriptionTimeLimits.stall);
  EXPECT_EQ(limits_.total, kDescriptionTimeLimits.total);
  // Descriptions are small: their limits are tighter than a general request's.
  EXPECT_LT(kDescriptionTimeLimits.total, HttpTimeLimits().total);
  EXPECT_LT(kDescriptionTimeLimits.connect, HttpTimeLimits().connect);
}

TEST_F(DescriptionFailureTest, ANewSearchFetchesARememberedLocationAgain) {
  const std::string slow = "http://10.77.0.4:5000/d.xml";
  outcomes_[slow] = HttpFailure::timedOut;
  answer(slow);
  answer(slow);
  EXPECT_EQ(fetched_.size(), 1u);
  // The socket is not open: the search goes nowhere.
  outcomes_.clear();
  repeatSearch(state_);
  answer(slow);
  EXPECT_EQ(fetched_, (std::vector<std::string>{slow, slow}));
  EXPECT_EQ(state_.deviceList->count(), 1);
}

// A TCP listener on 127.0.0.1 with a port of the system's choice.
class Listener {
 public:
  explicit Listener(int backlog) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd_, backlog) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~Listener() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : held_) close(fd);
    close(fd_);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/d.xml"; }
  int port() const { return port_; }

  // Serves each connection with `answer` (fd) on the listener's thread.
  template <typename Answer>
  void serve(Answer answer) {
    thread_ = std::thread([this, answer] {
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 50) != 1) continue;
        int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        answer(client, stop_);
        close(client);
      }
    });
  }

  // Connections from here that fill the accept queue, so that the next
  // SYN is dropped as by a black hole.
  void fillQueue() {
    for (int i = 0; i < 3; ++i) {
      int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(static_cast<uint16_t>(port_));
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
      held_.push_back(fd);
    }
    std::this_thread::sleep_for(milliseconds(100));
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<int> held_;
};

void sendText(int fd, const std::string& text) { send(fd, text.data(), text.size(), MSG_NOSIGNAL); }

// Waits until the request's head has arrived (or a second has passed).
void readHead(int fd) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) != 1) return;
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    head.append(buffer, static_cast<size_t>(got));
  }
}

struct Outcome {
  HttpFailure failure;
  std::string body;
  double seconds;
};

Outcome fetch(const std::string& url, HttpTimeLimits limits) {
  HttpExchange exchange;
  exchange.limits = limits;
  const auto began = Clock::now();
  std::string body = httpRequest(url, exchange);
  return {exchange.failure, body, std::chrono::duration<double>(Clock::now() - began).count()};
}

TEST(HttpFailureKinds, TellsAnswersFromTimeOutsBlackHolesAndEndlessBodies) {
  const HttpTimeLimits quick{1, 1, 2};

  Listener answering(16);
  answering.serve([](int fd, const std::atomic<bool>&) {
    readHead(fd);
    sendText(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\nConnection: close\r\n\r\ngone");
  });
  Outcome notFound = fetch(answering.url(), quick);
  EXPECT_EQ(notFound.failure, HttpFailure::none);
  EXPECT_EQ(notFound.body, "gone");

  Listener silent(16);
  silent.serve([](int fd, const std::atomic<bool>& stop) {
    readHead(fd);
    for (int i = 0; i < 40 && !stop; ++i) std::this_thread::sleep_for(milliseconds(100));
  });
  Outcome stalled = fetch(silent.url(), quick);
  EXPECT_EQ(stalled.failure, HttpFailure::timedOut);
  EXPECT_LT(stalled.seconds, 3.5);

  // Two bytes a second never stall, so the total limit ends it.
  Listener drip(16);
  drip.serve([](int fd, const std::atomic<bool>& stop) {
    readHead(fd);
    sendText(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
    for (int i = 0; i < 20 && !stop; ++i) {
      sendText(fd, "<");
      std::this_thread::sleep_for(milliseconds(400));
    }
  });
  Outcome dripped = fetch(drip.url(), HttpTimeLimits{1, 2, 2});
  EXPECT_EQ(dripped.failure, HttpFailure::timedOut);
  EXPECT_LT(dripped.seconds, 3.5);

  Listener endless(16);
  endless.serve([](int fd, const std::atomic<bool>& stop) {
    readHead(fd);
    sendText(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    const std::string filler(65536, 'x');
    for (size_t sent = 0; sent < 4 * kMaxResponseBody && !stop; sent += filler.size()) {
      if (send(fd, filler.data(), filler.size(), MSG_NOSIGNAL) <= 0) break;
    }
  });
  Outcome cut = fetch(endless.url(), HttpTimeLimits{1, 5, 10});
  EXPECT_EQ(cut.failure, HttpFailure::tooLarge);
  EXPECT_EQ(cut.body.size(), kMaxResponseBody);

  Listener hole(0);
  hole.fillQueue();
  Outcome unanswered = fetch(hole.url(), quick);
  EXPECT_EQ(unanswered.failure, HttpFailure::unreachable);
  EXPECT_LT(unanswered.seconds, 2.5);

  // A refused connection is quick and says nothing about the server later:
  // a port bound but not listening refuses.
  int closed = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(closed, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(closed, reinterpret_cast<sockaddr*>(&address), &length), 0);
  Outcome refused = fetch("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/d.xml", quick);
  close(closed);
  EXPECT_EQ(refused.failure, HttpFailure::other);
}

}  // namespace
}  // namespace tavrin
