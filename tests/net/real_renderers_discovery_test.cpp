// Discovery against real renderers on the test LAN: rygel (DLNA, mixed-case
// SSDP headers, announces itself) is listed once under its friendly name;
// gmediarender (plain UPnP, no DLNA element) has its description fetched but
// is not listed. The core runs on "host" exactly as the program runs it.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "fixtures/lan_process.h"
#include "fixtures/message_collector.h"
#include "fixtures/real_renderers.h"
#include "platform/key_value_map.h"
#include "platform/text_encoding.h"
#include "ssdp/device_list_builder.h"
#include "ssdp/ssdp_discovery.h"

namespace tavrin {
namespace {

using namespace std::chrono_literals;
using testing::RealRenderer;
using testing::RealRenderers;

constexpr char kHostAddress[] = "10.77.0.1";
constexpr int kWaitMs = 30000;
// The search asks for answers within MX = 5 s.
constexpr auto kAnswerWindow = 6s;

// The indices the core reports, in order, from its receive thread.
class FoundIndices {
 public:
  std::function<void(int)> callback() {
    return [this](int index) {
      std::lock_guard<std::mutex> lock(mutex_);
      indices_.push_back(index);
      changed_.notify_all();
    };
  }
  std::vector<int> get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return indices_;
  }
  bool waitForCount(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return indices_.size() >= count; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<int> indices_;
};

// The core as the program runs it, shut down however the test ends.
struct RunningCore {
  AppState state;
  RunningCore() { initAppState(state); }
  ~RunningCore() { shutdownAppState(state); }
};

long accepted(const std::string& host) { return testing::tcpConnectionsAccepted(TAVRIN_LAN_SCRIPT, host); }

// Waits until the host has accepted more connections than `before`.
bool waitForFetch(const std::string& host, long before) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (accepted(host) <= before) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(200ms);
  }
  return true;
}

// Waits until the host accepts no new connection for two seconds (at most
// 20 s): the datagrams a renderer sends in a burst have all been dealt with.
long waitUntilQuiet(const std::string& host) {
  auto deadline = std::chrono::steady_clock::now() + 20s;
  long last = accepted(host);
  auto since = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() < deadline && std::chrono::steady_clock::now() - since < 2s) {
    std::this_thread::sleep_for(250ms);
    long now = accepted(host);
    if (now != last) since = std::chrono::steady_clock::now();
    last = now;
  }
  return last;
}

// The one listed device is rygel, recorded from its description.
void expectRygelRecord(AppState& state, RealRenderer& rygel) {
  ASSERT_TRUE(rygel.waitUntilServing(kWaitMs)) << rygel.failure();
  KeyValueMap record;
  ASSERT_TRUE(state.deviceList->getMap(1, record));
  EXPECT_EQ(record.getKeys(), (std::vector<std::string>{"uuid", "name", "url", "service"}));
  EXPECT_EQ(record.getText("uuid"), rygel.uuid());
  EXPECT_EQ(gbkToUtf8(record.getText("name")), rygel.friendlyName());
  // No URLBase: scheme, host and port of its location.
  EXPECT_EQ(record.getText("url"), "http://10.77.0.4:49600");
  EXPECT_EQ(record.count("service"), 3);
  EXPECT_EQ(record.getText("//service[1].serviceType"), "urn:schemas-upnp-org:service:ConnectionManager:2");
  EXPECT_EQ(record.getText("//service[2].serviceType"), "urn:schemas-upnp-org:service:AVTransport:2");
  EXPECT_EQ(record.getText("//service[2].controlURL"), "/Control/Playbin/RygelAVTransport");
  EXPECT_EQ(record.getText("//service[2].serviceId"), "urn:upnp-org:serviceId:AVTransport");
  EXPECT_EQ(record.getText("//service[2].SCPDURL"), "/xml/AVTransport2.xml");
}

// The renderers' logs, shown when the test fails however it ends: rygel's
// first, and gmediarender's without the long list of types it registers.
struct LogsOnFailure {
  const RealRenderers& renderers;
  ~LogsOnFailure() {
    if (!::testing::Test::HasFailure()) return;
    std::string gmediarender;
    std::istringstream lines(renderers.gmediarender.log());
    for (std::string line; std::getline(lines, line);) {
      if (line.find("Registering support for") == std::string::npos) gmediarender += line + "\n";
    }
    std::fprintf(stderr, "--- rygel log ---\n%s--- gmediarender log ---\n%s", renderers.rygel.log().c_str(),
                 gmediarender.c_str());
  }
};

TEST(RealRenderersDiscovery, AnnouncedRygelIsListedOnceAndGmediarenderIsFetchedButNotListed) {
  testing::MessageCollector messages;
  RealRenderers renderers(TAVRIN_LAN_SCRIPT);
  LogsOnFailure logs{renderers};
  RealRenderer& gmediarender = renderers.gmediarender;
  RealRenderer& rygel = renderers.rygel;

  ASSERT_TRUE(gmediarender.start()) << gmediarender.failure();
  ASSERT_TRUE(gmediarender.waitUntilServing(kWaitMs)) << gmediarender.failure();
  // gmediarender is up and is no DLNA device: its description lacks the
  // element the core looks for.
  testing::LanHttpAnswer description = testing::lanHttpGet(gmediarender.descriptionUrl(), 5000);
  ASSERT_TRUE(description.complete);
  EXPECT_EQ(description.status, 200);
  EXPECT_NE(description.body.find("<friendlyName>TV gmediarender</friendlyName>"), std::string::npos);
  EXPECT_EQ(description.body.find("X_DLNADOC"), std::string::npos);

  const long tvBefore = accepted("tv");
  const long tv2Before = accepted("tv2");
  ASSERT_GE(tvBefore, 0);
  ASSERT_GE(tv2Before, 0);

  RunningCore core;
  AppState& state = core.state;
  FoundIndices found;
  ASSERT_TRUE(startDiscovery(state, found.callback()));

  // gmediarender answers the first search and the core fetches its
  // description.
  EXPECT_TRUE(waitForFetch("tv", tvBefore)) << "gmediarender's description was never fetched";

  // rygel starts while discovery runs: its announcements, several datagrams
  // with a location each, reach the core.
  // A description fetch that stalls holds the receive thread for up to its
  // time limit, and the announcements queued behind it are read after it.
  ASSERT_TRUE(rygel.start()) << rygel.failure();
  ASSERT_TRUE(found.waitForCount(1, std::chrono::milliseconds(kWaitMs) +
                                        std::chrono::seconds(kDescriptionTimeLimits.total)))
      << "rygel was never listed; its description was fetched " << accepted("tv2") - tv2Before << " time(s); "
      << (rygel.waitUntilServing(1000) ? "it serves it now" : rygel.failure());
  const long tv2After = waitUntilQuiet("tv2");

  // Every datagram with a location cost one fetch, but the list holds rygel
  // once, reported once, as the first device.
  EXPECT_GE(tv2After - tv2Before, 2) << "rygel's description was fetched only " << tv2After - tv2Before << " time(s)";
  EXPECT_EQ(found.get(), std::vector<int>{1});
  EXPECT_EQ(state.deviceList->count(), 1);
  expectRygelRecord(state, rygel);
  EXPECT_TRUE(messages.messages().empty());
}

TEST(RealRenderersDiscovery, RepeatSearchEmptiesTheListAndRygelAnswersAsFirstAgain) {
  testing::MessageCollector messages;
  RealRenderers renderers(TAVRIN_LAN_SCRIPT);
  LogsOnFailure logs{renderers};
  ASSERT_TRUE(renderers.start(kWaitMs)) << renderers.failure();
  RealRenderer& rygel = renderers.rygel;

  RunningCore core;
  AppState& state = core.state;
  FoundIndices found;
  auto searched = std::chrono::steady_clock::now();
  ASSERT_TRUE(startDiscovery(state, found.callback()));
  // Listed from the answer or from the last of its start-up announcements;
  // once the answers to this search are all in, the list holds it alone.
  ASSERT_TRUE(found.waitForCount(1, std::chrono::milliseconds(kWaitMs))) << "rygel was never listed";
  std::this_thread::sleep_until(searched + kAnswerWindow);
  EXPECT_EQ(found.get(), std::vector<int>{1});
  EXPECT_EQ(state.deviceList->count(), 1);

  // Its announcements are over by now: only its answer to this search (from
  // port 1900, "Location:" and "USN:" in mixed case) can list it again.
  searched = std::chrono::steady_clock::now();
  repeatSearch(state);
  EXPECT_EQ(state.deviceList->count(), 0);
  ASSERT_TRUE(found.waitForCount(2, std::chrono::milliseconds(kWaitMs))) << "rygel did not answer the search";
  std::this_thread::sleep_until(searched + kAnswerWindow);
  EXPECT_EQ(found.get(), (std::vector<int>{1, 1}));
  EXPECT_EQ(state.deviceList->count(), 1);
  expectRygelRecord(state, rygel);
  EXPECT_TRUE(messages.messages().empty());
}

}  // namespace
}  // namespace tavrin
