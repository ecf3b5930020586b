// Discovery against hostile devices on the test LAN: tv2 plays a device that
// sends broken datagrams and serves broken, huge, slow or silent
// descriptions. The receive loop must survive each, keep the device list
// consistent and its memory bounded, and still find the next good renderer.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <thread>

#include "discovery_session.h"
#include "fixtures/sanitized_build.h"
#include "ssdp/device_list_builder.h"

namespace tavrin::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Memory bounds grow under the sanitizers.
constexpr long kMemoryFactor = kSanitizedBuild ? 8 : 1;
// A description is read into memory up to 8 MiB and parsed once; with its
// copies and the parsed tree (a million elements for the deep one) about
// 80 MiB at the peak.
constexpr long kPeakGrowthKib = 160 * 1024 * kMemoryFactor;
constexpr long kLastingGrowthKib = 64 * 1024 * kMemoryFactor;

// Position of the first fixture line that starts with the prefix, or the
// number of lines when there is none.
size_t lineIndex(const std::vector<std::string>& lines, const std::string& prefix) {
  auto at = std::find_if(lines.begin(), lines.end(),
                         [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
  return static_cast<size_t>(at - lines.begin());
}

long endBytes(const LanProcess& fixture, const std::string& path) {
  auto line = fixture.waitForLine("end " + path + " ", seconds(1));
  return line ? std::stol(line->substr(line->rfind(' ') + 1)) : -1;
}

TEST(DiscoveryBadInput, BrokenDatagramsAreSurvivedAndTheNextRendererIsFound) {
  DiscoverySession session;
  ASSERT_TRUE(session.start());
  // Binary garbage; a NOTIFY with LF alone (its location is never found); a
  // datagram of 10,000 header lines and one of 65,507 bytes (both longer
  // than the receive buffer); an empty one; one whose location stands after
  // a zero byte; then one that fills the buffer with header lines before
  // the location and USN of device 1; then both devices announce.
  auto tv2 = startFixture("tv2", {"--device", "dlna", "--device", "dlna", "--send", "garbage", "--send", "lfonly",
                                  "--send", "headers10000", "--send", "max", "--send", "empty", "--send", "zero",
                                  "--send", "manylines", "--send", "alive"});
  ASSERT_GT(waitUntilReady(*tv2), 0);
  ASSERT_TRUE(session.waitForCallbacks(2, seconds(15)));
  EXPECT_TRUE(tv2->waitForLines("fetch ", 3, seconds(10)));
  std::this_thread::sleep_for(milliseconds(300));

  ASSERT_EQ(session.devices().size(), 2u);
  EXPECT_EQ(session.devices()[0].uuid, "fixture-tv2-1");
  EXPECT_EQ(session.devices()[0].serviceCount, 3);
  EXPECT_EQ(session.devices()[1].uuid, "fixture-tv2-2");
  EXPECT_EQ(session.indices(), (std::vector<int>{1, 2}));
  // Device 1: the long datagram and its announcement; the LF-only and the
  // zero-cut datagrams named it too but caused no fetch.
  EXPECT_EQ(tv2->countLines("fetch /d/1.xml "), 2u);
  EXPECT_EQ(tv2->countLines("fetch /d/2.xml "), 1u);
  EXPECT_EQ(tv2->countLines("fetch "), 3u);
  EXPECT_TRUE(session.messages.messages().empty());
}

TEST(DiscoveryBadInput, BrokenSlowAndHugeDescriptionsAreSurvivedWithBoundedMemory) {
  DiscoverySession session;
  ASSERT_TRUE(session.start());
  const long rssBefore = statusKib("VmRSS");
  // What stays is told by the allocator: a thread's arena may keep freed
  // pages resident, so VmRSS alone would count memory no longer in use.
  const auto liveHeapKib = [] {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
  };
  const long heapBefore = liveHeapKib();
  // 1 a 50 MB description, 2 one with 100,000 services, 3 malformed XML,
  // 4 nested a million deep, 5 a closed port, 6 four bytes dripped one a
  // second, 7 a location that accepts and never answers, 8 a good renderer.
  auto tv2 = startFixture("tv2",
                          {"--device", "huge", "--device", "manyservices", "--device", "malformed", "--device", "deep",
                           "--device", "closed", "--device", "drip", "--device", "silent", "--device", "dlna",
                           "--drip-seconds", "4", "--send", "alive"},
                          120);
  ASSERT_GT(waitUntilReady(*tv2), 0);
  const auto began = std::chrono::steady_clock::now();
  // The silent location is given up after the client's 30 s stall limit.
  ASSERT_TRUE(session.waitForCallbacks(3, seconds(90)));
  const auto took = std::chrono::steady_clock::now() - began;
  std::this_thread::sleep_for(milliseconds(300));

  // Well-formed DLNA descriptions are listed, however odd; the rest not.
  ASSERT_EQ(session.devices().size(), 3u);
  EXPECT_EQ(session.devices()[0].uuid, "fixture-tv2-2");
  EXPECT_EQ(session.devices()[0].serviceCount, kMaxServicesPerDevice);
  EXPECT_EQ(session.text(1, "//service[256].serviceId"), "s256");
  EXPECT_EQ(session.devices()[1].uuid, "fixture-tv2-4");
  EXPECT_EQ(session.devices()[1].name, "tv2 电视 4");
  EXPECT_EQ(session.devices()[2].uuid, "fixture-tv2-8");
  EXPECT_EQ(session.devices()[2].serviceCount, 3);
  EXPECT_EQ(session.indices(), (std::vector<int>{1, 2, 3}));

  // One fetch per announcement with an open port. The huge one was cut off
  // long before its end; the drip was read to its end; the silent one was
  // given up; and only then did the loop read the good renderer's datagram.
  for (int device : {1, 2, 3, 4, 6, 7, 8}) {
    EXPECT_EQ(tv2->countLines("fetch /d/" + std::to_string(device) + ".xml "), 1u) << device;
  }
  EXPECT_EQ(tv2->countLines("fetch "), 7u);
  const long hugeSent = endBytes(*tv2, "/d/1.xml");
  EXPECT_GT(hugeSent, 0);
  EXPECT_LT(hugeSent, 50L * 1000 * 1000);
  EXPECT_EQ(endBytes(*tv2, "/d/6.xml"), 4);
  EXPECT_EQ(endBytes(*tv2, "/d/7.xml"), 0);
  const std::vector<std::string> lines = tv2->lines();
  // The fixture reports an answer's end from its own thread, which may come
  // after the loop has gone on: the order of the fetches is what counts.
  EXPECT_LT(lineIndex(lines, "fetch /d/6.xml"), lineIndex(lines, "fetch /d/7.xml"));
  EXPECT_LT(lineIndex(lines, "fetch /d/7.xml"), lineIndex(lines, "fetch /d/8.xml"));
  EXPECT_GE(took, seconds(30));

  const long peakGrowth = statusKib("VmHWM") - rssBefore;
  const long lastingGrowth = liveHeapKib() - heapBefore;
  std::printf("memory: VmRSS before %ld KiB, peak growth %ld KiB, heap still in use %ld KiB\n", rssBefore, peakGrowth,
              lastingGrowth);
  EXPECT_LT(peakGrowth, kPeakGrowthKib);
  EXPECT_LT(lastingGrowth, kLastingGrowthKib);
}

}  // namespace
}  // namespace tavrin::testing
