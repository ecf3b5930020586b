// tavrin-cli as a child process on "host": it lists the fixture renderers,
// pushes URLs and files to them, reads what they play, and records what a
// fixture phone casts to its renderer; Ctrl-C ends the long-running
// commands cleanly, and wrong usage is status 2.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "discovery_session.h"
#include "platform/key_value_map.h"
#include "platform/text_between.h"

namespace tavrin::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// tavrin-cli on "host", its standard error into a file and its process id
// printed first ("pid N"), so that the test can send it SIGINT.
class CliRun {
 public:
  explicit CliRun(const std::vector<std::string>& arguments, int limit = 30)
      : errPath_("/tmp/tavrin-cli-test-" + std::to_string(getpid()) + "-" + std::to_string(counter()++)) {
    std::vector<std::string> command = {"sh", "-c", "echo pid $$; exec \"$0\" \"$@\" 2>" + errPath_, TAVRIN_CLI};
    command.insert(command.end(), arguments.begin(), arguments.end());
    process_ = std::make_unique<LanProcess>(TAVRIN_LAN_SCRIPT, "host", command, seconds(limit));
    auto line = process_->waitForLine("pid ", seconds(10));
    if (line) pid_ = std::stoi(line->substr(4));
  }
  ~CliRun() { unlink(errPath_.c_str()); }

  LanProcess& process() { return *process_; }
  int finish(int limitSeconds = 20) {
    const int status = process_->waitForExit(seconds(limitSeconds));
    process_->waitForLines("\n", 1, seconds(2));
    return status;
  }
  void interrupt() const {
    if (pid_ > 0) ::kill(pid_, SIGINT);
  }
  std::vector<std::string> out() const {
    std::vector<std::string> lines = process_->lines();
    lines.erase(lines.begin(), lines.begin() + std::min<size_t>(1, lines.size()));  // "pid N"
    return lines;
  }
  std::string err() const {
    std::ifstream file(errPath_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

 private:
  static int& counter() {
    static int n = 0;
    return n;
  }
  std::string errPath_;
  std::unique_ptr<LanProcess> process_;
  int pid_ = -1;
};

// True when nothing listens on the host's port any more.
bool portClosed(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "10.77.0.1", &address.sin_addr);
  const bool refused = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
  close(fd);
  return refused;
}

std::string fromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

std::vector<std::string> runPhone(const std::vector<std::string>& args, int limit = 20) {
  std::vector<std::string> command = {TAVRIN_PHONE_APP, "--seconds", std::to_string(limit)};
  command.insert(command.end(), args.begin(), args.end());
  LanProcess phone(TAVRIN_LAN_SCRIPT, "phone", command, seconds(limit + 5));
  phone.waitForExit(seconds(limit + 5));
  phone.waitForLines("\n", 1, seconds(3));
  return phone.lines();
}

std::string firstAfter(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
  }
  return {};
}

TEST(CliLan, ListPrintsTheFixtureRenderersAsTextAndJson) {
  auto tv = startFixture("tv", {"--tag", "tv", "--device", "cm-avt-rc*2"}, 40);
  auto tv2 = startFixture("tv2", {"--tag", "tv2", "--device", "urlbase"}, 40);
  ASSERT_GT(waitUntilReady(*tv), 0);
  ASSERT_GT(waitUntilReady(*tv2), 0);

  CliRun text({"list", "--wait", "3"});
  ASSERT_EQ(text.finish(), 0) << text.err();
  std::vector<std::string> names;
  const std::vector<std::string> lines = text.out();
  for (size_t i = 0; i < lines.size(); ++i) {
    std::vector<std::string> fields;
    std::stringstream split(lines[i]);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 3u) << lines[i];
    EXPECT_EQ(fields[0], std::to_string(i + 1));
    EXPECT_EQ(fields[2].rfind("http://10.77.0.", 0), 0u) << fields[2];
    names.push_back(fields[1]);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"tv 电视 1", "tv 电视 2", "tv2 电视 1"}));

  CliRun json({"list", "--wait", "3", "--json"});
  ASSERT_EQ(json.finish(), 0) << json.err();
  ASSERT_EQ(json.out().size(), 1u);
  KeyValueMap parsed;
  ASSERT_TRUE(parsed.fromJson("{\"devices\":" + json.out()[0] + "}")) << json.out()[0];
  ASSERT_EQ(parsed.count("devices"), 3);
  std::vector<std::string> uuids;
  for (int i = 1; i <= 3; ++i) {
    uuids.push_back(parsed.getText("//devices[" + std::to_string(i) + "].uuid"));
    EXPECT_GT(parsed.count("//devices[" + std::to_string(i) + "].service"), 0);
  }
  std::sort(uuids.begin(), uuids.end());
  EXPECT_EQ(uuids, (std::vector<std::string>{"fixture-tv-1", "fixture-tv-2", "fixture-tv2-1"}));
  // UTF-8 in the JSON text as printed.
  EXPECT_NE(json.out()[0].find("电视"), std::string::npos);

  // The log tells every datagram read, by sender, size and first line.
  CliRun verbose({"list", "--wait", "2", "--verbose"});
  ASSERT_EQ(verbose.finish(), 0) << verbose.err();
  EXPECT_EQ(verbose.out().size(), 3u);
  const std::string log = verbose.err();
  EXPECT_THAT(log, ::testing::ContainsRegex("datagram from 10\\.77\\.0\\.2:[0-9]+, [0-9]+ bytes: HTTP/1\\.1 200 OK\n"));
  EXPECT_THAT(log, ::testing::ContainsRegex("datagram from 10\\.77\\.0\\.4:[0-9]+, [0-9]+ bytes: HTTP/1\\.1 200 OK\n"));
  EXPECT_NE(log.find("found device 3: "), std::string::npos) << log;
}

TEST(CliLan, PushOfAUrlIsSetAvTransportUriThenPlayAndNowPlayingReadsItBack) {
  auto tv = startFixture("tv", {"--device", "cm-avt-rc"}, 40);
  ASSERT_GT(waitUntilReady(*tv), 0);
  const std::string url = "http://10.77.0.9/live/频道.m3u8?a=1&b=2";
  CliRun push({"push", "--name", "tv 电视 1", url});
  ASSERT_EQ(push.finish(), 0) << push.err();
  EXPECT_NE(push.err().find("完成"), std::string::npos) << push.err();
  ASSERT_TRUE(tv->waitForLines("action 1 Play", 1, seconds(5)));
  std::vector<std::string> actions;
  for (const std::string& line : tv->lines()) {
    if (line.rfind("action 1 ", 0) == 0) actions.push_back(line.substr(9));
  }
  // The URL goes out with its "&" escaped; Play names no URI.
  EXPECT_EQ(actions, (std::vector<std::string>{"SetAVTransportURI http://10.77.0.9/live/频道.m3u8?a=1&amp;b=2", "Play"}));

  CliRun now({"now-playing", "--device", "1"});
  ASSERT_EQ(now.finish(), 0) << now.err();
  // Sent escaped, kept so by the fixture, read back unescaped.
  EXPECT_EQ(now.out(), std::vector<std::string>{url});
}

TEST(CliLan, NowPlayingWithoutACurrentUriAndAMissingDeviceAreFailures) {
  auto tv = startFixture("tv", {"--device", "cm-avt-rc:empty"}, 40);
  ASSERT_GT(waitUntilReady(*tv), 0);
  CliRun none({"now-playing", "--device", "1"});
  EXPECT_EQ(none.finish(), 1);
  EXPECT_TRUE(none.out().empty());
  EXPECT_NE(none.err().find("no current URI"), std::string::npos) << none.err();

  CliRun missing({"now-playing", "--device", "2", "--wait", "1"});
  EXPECT_EQ(missing.finish(), 1);
  EXPECT_NE(missing.err().find("no device number 2"), std::string::npos) << missing.err();
}

TEST(CliLan, PushOfAFileIsServedWithRangesAndProgressUntilSigint) {
  const std::string path = "/tmp/tavrin-cli-push-" + std::to_string(getpid()) + ".mp4";
  {
    std::ofstream file(path, std::ios::binary);
    for (int i = 0; i < 200000; ++i) file.put(static_cast<char>(i * 7));
  }
  auto tv = startFixture("tv", {"--device", "cm-avt-rc", "--player", "--range", "bytes=1000-1999"}, 40);
  ASSERT_GT(waitUntilReady(*tv), 0);
  CliRun push({"push", "--device", "1", path});
  ASSERT_TRUE(tv->waitForLines("fetched ", 2, seconds(15)));
  const std::vector<std::string> fetched = [&] {
    std::vector<std::string> all;
    for (const std::string& line : tv->lines()) {
      if (line.rfind("fetched ", 0) == 0) all.push_back(line);
    }
    return all;
  }();
  EXPECT_EQ(fetched[0].rfind("fetched 200 200000 ", 0), 0u) << fetched[0];
  EXPECT_EQ(fetched[1].rfind("fetched 206 1000 ", 0), 0u) << fetched[1];
  // A line is written once its answer has gone out.
  const std::string lastLine = "range bytes=1000-1999: 206 bytes 1000-1999, 1000 of 200000 bytes sent";
  for (int i = 0; i < 100 && push.err().find(lastLine) == std::string::npos; ++i) {
    std::this_thread::sleep_for(milliseconds(100));
  }
  const std::string err = push.err();
  // Each line names the client (the renderer on tv) and the range it asked for.
  EXPECT_NE(err.find("10.77.0.2 GET /1?"), std::string::npos) << err;
  EXPECT_NE(err.find("range -: 200, 200000 of 200000 bytes sent"), std::string::npos) << err;
  EXPECT_NE(err.find(lastLine), std::string::npos) << err;
  EXPECT_TRUE(push.out().empty());

  push.interrupt();
  EXPECT_EQ(push.finish(), 0) << push.err();
  EXPECT_TRUE(portClosed(16789));
  unlink(path.c_str());
}

TEST(CliLan, SniffPrintsWhatThePhoneCastsNumberedInOrderAndEndsOnSigint) {
  CliRun sniff({"sniff", "--name", "客厅小站"});
  ASSERT_TRUE(sniff.process().waitForLine("pid ", seconds(5)));
  std::this_thread::sleep_for(milliseconds(500));
  const std::vector<std::string> phone =
      runPhone({"cast", "--discover", "客厅", "http://a/1.m3u8", "http://a/2.mp4?x=1&amp;y=2", "http://a/3"});
  ASSERT_FALSE(firstAfter(phone, "target ").empty());
  ASSERT_TRUE(sniff.process().waitForLines("3\t", 1, seconds(5)));
  EXPECT_EQ(sniff.out(), (std::vector<std::string>{"1\thttp://a/1.m3u8", "2\thttp://a/2.mp4?x=1&y=2", "3\thttp://a/3"}));
  sniff.interrupt();
  EXPECT_EQ(sniff.finish(), 0) << sniff.err();
  EXPECT_TRUE(portClosed(18889));
}

// A control point that insists on ConnectionManager: it reads the
// description, gives up when ConnectionManager is not there or its service
// description cannot be read, and only then casts. The captured lines.
std::vector<std::string> castAsAnInsistingPhone(bool complete) {
  std::vector<std::string> arguments = {"sniff", "--json"};
  if (complete) arguments.push_back("--complete");
  CliRun sniff(arguments);
  std::this_thread::sleep_for(milliseconds(500));
  const std::string answered = firstAfter(runPhone({"search"}), "answer 10.77.0.1:");
  const std::string answer = fromHex(answered.substr(answered.find(' ') + 1));
  const std::string location = textBetween(answer, "Location: ", "\r\n");
  EXPECT_FALSE(location.empty()) << answer;
  const std::string description = fromHex(firstAfter(runPhone({"fetch", location}), "body "));
  const std::string base = textBetween(description, "<URLBase>", "</URLBase>");
  const size_t cm = description.find("urn:schemas-upnp-org:service:ConnectionManager:1");
  if (cm != std::string::npos) {
    const std::string scpd = textBetween(description.substr(cm), "<SCPDURL>", "</SCPDURL>");
    const std::vector<std::string> fetched = runPhone({"fetch", base + "/" + scpd});
    if (firstAfter(fetched, "status ") == "200" &&
        fromHex(firstAfter(fetched, "body ")).find("GetProtocolInfo") != std::string::npos) {
      runPhone({"cast", base + "/_urn:schemas-upnp-org:service:AVTransport_control", "http://b/1", "http://b/2"});
    }
  }
  std::this_thread::sleep_for(milliseconds(300));
  sniff.interrupt();
  EXPECT_EQ(sniff.finish(), 0) << sniff.err();
  return sniff.out();
}

TEST(CliLan, APhoneThatInsistsOnConnectionManagerCastsOnlyWithComplete) {
  EXPECT_EQ(castAsAnInsistingPhone(false), std::vector<std::string>{});
  EXPECT_EQ(castAsAnInsistingPhone(true), (std::vector<std::string>{"{\"index\":1,\"url\":\"http://b/1\"}",
                                                                    "{\"index\":2,\"url\":\"http://b/2\"}"}));
}

TEST(CliLan, WrongUsageIsStatus2WithOneLine) {
  CliRun run({"push", "--device", "one", "http://a/b"});
  EXPECT_EQ(run.finish(), 2);
  EXPECT_TRUE(run.out().empty());
  const std::string err = run.err();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

}  // namespace
}  // namespace tavrin::testing
