// The local-file push across the test LAN: the program's core on "host"
// serves the pushed file from its media server and tells a fixture renderer
// in "tv", listed through discovery, to play it; the fixture fetches the URL
// it was given as a TV does (whole, then by byte ranges, then the URLs of
// earlier pushes again) and reports the fingerprint of every body.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <regex>
#include <thread>

#include "discovery_session.h"
#include "fixtures/seeded_temp_file.h"
#include "fixtures/fixture_renderer_documents.h"
#include "httpserv/media_server.h"

namespace tavrin::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;


// One fetch the fixture reported: "fetched <status> <bytes> <fingerprint>
// <kind> <uri> <Content-Range or ->".
struct Fetch {
  std::string status;
  size_t bytes = 0;
  std::string fingerprint;
  std::string kind;
  std::string uri;
  std::string contentRange;
};

bool operator==(const Fetch& a, const Fetch& b) {
  return a.status == b.status && a.bytes == b.bytes && a.fingerprint == b.fingerprint && a.kind == b.kind &&
         a.uri == b.uri && a.contentRange == b.contentRange;
}

std::ostream& operator<<(std::ostream& out, const Fetch& f) {
  return out << "{" << f.status << " " << f.bytes << " " << f.fingerprint << " " << f.kind << " " << f.uri << " "
             << f.contentRange << "}";
}

std::vector<Fetch> fetches(const LanProcess& fixture) {
  std::vector<Fetch> all;
  for (const std::string& line : fixture.lines()) {
    if (line.rfind("fetched ", 0) != 0) continue;
    std::vector<std::string> words;
    size_t at = 8;
    for (int i = 0; i < 5; ++i) {
      size_t space = line.find(' ', at);
      words.push_back(line.substr(at, space - at));
      at = space == std::string::npos ? line.size() : space + 1;
    }
    all.push_back({words[0], std::stoul(words[1]), words[2], words[3], words[4], line.substr(at)});
  }
  return all;
}

// Waits until the fixture has reported `count` fetches in all, then a
// little longer so that one too many would show.
std::vector<Fetch> waitForFetches(const LanProcess& fixture, size_t count) {
  EXPECT_TRUE(fixture.waitForLines("fetched ", count, seconds(15))) << "fewer than " << count << " fetches";
  std::this_thread::sleep_for(milliseconds(200));
  return fetches(fixture);
}

// The fetch of the bytes [first, last] of the file as a range request asked
// by `kind` is answered.
Fetch rangeOf(const TempFile& file, size_t first, size_t last, const std::string& kind, const std::string& uri) {
  return {"206", last - first + 1, fingerprint(file.bytes().substr(first, last - first + 1)), kind, uri,
          "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(file.bytes().size())};
}

Fetch wholeOf(const std::string& body, const std::string& status, const std::string& kind, const std::string& uri) {
  return {status, body.size(), fingerprint(body), kind, uri, "-"};
}

// The CurrentURI of the latest SetAVTransportURI the fixture got.
std::string lastPushedUri(const LanProcess& fixture) {
  std::string uri;
  for (const std::string& line : fixture.lines()) {
    if (line.rfind("request ", 0) != 0) continue;
    std::string bytes;
    for (size_t i = 8; i + 1 < line.size(); i += 2) {
      bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    }
    size_t open = bytes.find("<CurrentURI>");
    if (open == std::string::npos) continue;
    open += 12;
    uri = bytes.substr(open, bytes.find("</CurrentURI>", open) - open);
  }
  return uri;
}

// Waits (a little over a second at most) until the time stamp changes, so
// that the next push names another URL.
void nextStamp(const std::string& uri) {
  auto deadline = std::chrono::steady_clock::now() + milliseconds(2500);
  while (uri.find("?" + makeTimeStamp()) != std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(20));
  }
}

TEST(LocalFilePushLan, RendererFetchesTheExactFileByRangesAndTheLatestFileUnderEveryEarlierUrl) {
  TempFile first("tavrin-ctl", "first.mp4", 300000, 1);
  TempFile second("tavrin-ctl", "second.mkv", 150001, 2);
  const std::string missing = first.path() + ".gone.mp4";
  auto tv = startFixture("tv",
                         {"--device", "cm-avt-rc", "--player", "--range", "bytes=1000-66535", "--range",
                          "bytes=100000-", "--range", "bytes=-777"},
                         30);
  ASSERT_GT(waitUntilReady(*tv), 0);

  DiscoverySession session;
  AppState& state = session.state;
  const int port = session.startMediaServer();
  ASSERT_GT(port, 0);
  ASSERT_TRUE(session.start());
  ASSERT_TRUE(session.waitForCallbacks(1, seconds(15)));
  ASSERT_EQ(session.devices()[0].uuid, "fixture-tv-1");

  // The device in the combo box's first row, with its index as the value.
  pushLocalFile(state, first.path(), 0, 1);
  EXPECT_EQ(session.messages.messages(), std::vector<std::string>{"完成"});
  ASSERT_TRUE(tv->waitForLines("action 1 Play", 1, seconds(10)));
  // The host's address in the renderer's network, the server's port, "/1"
  // and the ten digits of the stamp.
  const std::string firstUri = lastPushedUri(*tv);
  EXPECT_TRUE(std::regex_match(firstUri, std::regex("http://10\\.77\\.0\\.1:" + std::to_string(port) + "/1\\?\\d{10}")))
      << firstUri;
  std::vector<Fetch> seen = waitForFetches(*tv, 4);
  EXPECT_EQ(seen, (std::vector<Fetch>{
                      wholeOf(first.bytes(), "200", "whole", firstUri),
                      rangeOf(first, 1000, 66535, "bytes=1000-66535", firstUri),
                      rangeOf(first, 100000, 299999, "bytes=100000-", firstUri),
                      rangeOf(first, 299223, 299999, "bytes=-777", firstUri),
                  }));

  // The next file under a new URL; the first URL, fetched late, now gets
  // the next file too.
  nextStamp(firstUri);
  pushLocalFile(state, second.path(), 0, 1);
  ASSERT_TRUE(tv->waitForLines("action 1 Play", 2, seconds(10)));
  const std::string secondUri = lastPushedUri(*tv);
  EXPECT_NE(secondUri, firstUri);
  seen = waitForFetches(*tv, 9);
  seen.erase(seen.begin(), seen.begin() + std::min<size_t>(4, seen.size()));
  EXPECT_EQ(seen, (std::vector<Fetch>{
                      wholeOf(second.bytes(), "200", "whole", secondUri),
                      rangeOf(second, 1000, 66535, "bytes=1000-66535", secondUri),
                      rangeOf(second, 100000, 150000, "bytes=100000-", secondUri),
                      rangeOf(second, 149224, 150000, "bytes=-777", secondUri),
                      wholeOf(second.bytes(), "200", "late", firstUri),
                  }));

  // A file that does not exist: the server component's 404, under every
  // URL and for every range.
  nextStamp(secondUri);
  pushLocalFile(state, missing, 0, 1);
  ASSERT_TRUE(tv->waitForLines("action 1 Play", 3, seconds(10)));
  const std::string thirdUri = lastPushedUri(*tv);
  const std::string notFound = "404 Not Found\n";
  seen = waitForFetches(*tv, 15);
  seen.erase(seen.begin(), seen.begin() + std::min<size_t>(9, seen.size()));
  EXPECT_EQ(seen, (std::vector<Fetch>{
                      wholeOf(notFound, "404", "whole", thirdUri),
                      wholeOf(notFound, "404", "bytes=1000-66535", thirdUri),
                      wholeOf(notFound, "404", "bytes=100000-", thirdUri),
                      wholeOf(notFound, "404", "bytes=-777", thirdUri),
                      wholeOf(notFound, "404", "late", firstUri),
                      wholeOf(notFound, "404", "late", secondUri),
                  }));
  EXPECT_EQ(session.messages.messages(), (std::vector<std::string>{"完成", "完成", "完成"}));
  // Two requests a push, nothing else.
  EXPECT_EQ(tv->countLines("action "), 6u);
}

}  // namespace
}  // namespace tavrin::testing
