// The command line of tavrin-cli: what each form parses to, and every usage
// error as status 2 with one line and a hint, before anything touches the
// network.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli_commands.h"
#include "cli/cli_options.h"

namespace tavrin {
namespace {

struct UsageCase {
  std::vector<std::string> arguments;
  std::string message;  // a part of the one line
};

class CliUsageErrorTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CliUsageErrorTest, IsStatus2WithOneLineAndAHint) {
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(runCli(GetParam().arguments, out, err), kExitUsage);
  EXPECT_EQ(out.str(), "");
  const std::string line = err.str();
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
  EXPECT_NE(line.find(GetParam().message), std::string::npos) << line;
  EXPECT_NE(line.find("--help"), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliUsageErrorTest,
    ::testing::Values(UsageCase{{}, "no command"}, UsageCase{{"play"}, "unknown command 'play'"},
                      UsageCase{{"list", "--colour"}, "unknown option '--colour'"},
                      UsageCase{{"list", "--wait"}, "--wait needs a value"},
                      UsageCase{{"list", "--wait", "soon"}, "--wait needs seconds"},
                      UsageCase{{"list", "--wait", "-1"}, "--wait needs seconds"},
                      UsageCase{{"list", "--wait", "inf"}, "--wait needs seconds"},
                      UsageCase{{"list", "--json=yes"}, "takes no value"},
                      UsageCase{{"list", "extra"}, "unexpected argument 'extra'"},
                      UsageCase{{"list", "--device", "1"}, "list takes no option --device"},
                      UsageCase{{"list", "--complete"}, "list takes no option --complete"},
                      UsageCase{{"push", "http://a/b"}, "one of --device N or --name NAME"},
                      UsageCase{{"push", "--device", "1", "--name", "TV", "http://a/b"}, "one of --device"},
                      UsageCase{{"push", "--device", "0", "http://a/b"}, "--device needs a device number"},
                      UsageCase{{"push", "--device", "x1", "http://a/b"}, "--device needs a device number"},
                      UsageCase{{"push", "--device", "1"}, "needs a URL or a file"},
                      UsageCase{{"push", "--device", "1", "a", "b"}, "unexpected argument 'b'"},
                      UsageCase{{"push", "--json", "--device", "1", "a"}, "push takes no option --json"},
                      UsageCase{{"now-playing"}, "one of --device N or --name NAME"},
                      UsageCase{{"now-playing", "--name="}, "--name needs a name"},
                      UsageCase{{"sniff", "--device", "2"}, "sniff takes no option --device"},
                      UsageCase{{"sniff", "--wait", "2"}, "sniff takes no option --wait"},
                      UsageCase{{"sniff", "--address", "10.0.0"}, "--address needs an address"},
                      UsageCase{{"sniff", "--address", "10.0.0.1", "--interface", "eth0"}, "either --interface"}));

TEST(CliOptions, ParsesEachCommandWithOptionsBeforeOrAfterIt) {
  CliParseResult list = parseCliArguments({"--verbose", "list", "--wait=1.5", "--json"});
  ASSERT_TRUE(list.ok) << list.error;
  EXPECT_EQ(list.options.command, CliCommand::List);
  EXPECT_DOUBLE_EQ(list.options.waitSeconds, 1.5);
  EXPECT_TRUE(list.options.json);
  EXPECT_TRUE(list.options.verbose);

  CliParseResult push = parseCliArguments({"push", "--name", "客厅 电视", "--address", "10.77.0.1", "--", "--file"});
  ASSERT_TRUE(push.ok) << push.error;
  EXPECT_EQ(push.options.command, CliCommand::Push);
  EXPECT_EQ(push.options.deviceName, "客厅 电视");
  EXPECT_EQ(push.options.deviceIndex, 0);
  EXPECT_EQ(push.options.target, "--file");
  EXPECT_EQ(push.options.address, "10.77.0.1");
  EXPECT_DOUBLE_EQ(push.options.waitSeconds, 3.0);

  CliParseResult now = parseCliArguments({"now-playing", "--device", "12", "--interface", "eth0"});
  ASSERT_TRUE(now.ok) << now.error;
  EXPECT_EQ(now.options.deviceIndex, 12);
  EXPECT_EQ(now.options.interfaceName, "eth0");

  CliParseResult sniff = parseCliArguments({"sniff", "--complete", "--json"});
  ASSERT_TRUE(sniff.ok) << sniff.error;
  EXPECT_EQ(sniff.options.rendererName, "Morla小站");
  EXPECT_TRUE(sniff.options.complete);
  EXPECT_EQ(parseCliArguments({"sniff", "--name", "书房"}).options.rendererName, "书房");
}

TEST(CliOptions, HelpAndVersionWinOverEverythingElseAndGoToStandardOutput) {
  for (const auto& [arguments, expected] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--help"}, "Usage: tavrin-cli COMMAND"},
           {{"push", "--help"}, "Usage: tavrin-cli push"},
           {{"sniff", "--bogus-later", "--help"}, ""},
           {{"list", "--help", "--wait", "x"}, "Usage: tavrin-cli list"},
           {{"--version"}, "tavrin-cli 1."}}) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = runCli(arguments, out, err);
    if (expected.empty()) {
      // An unknown option is found before --help is looked at.
      EXPECT_EQ(status, kExitUsage);
      continue;
    }
    EXPECT_EQ(status, kExitSuccess) << arguments[0];
    EXPECT_EQ(out.str().rfind(expected, 0), 0u) << out.str();
    EXPECT_EQ(err.str(), "");
  }
}

TEST(CliOptions, AnAddressThatIsNotTheHostsIsAFailureNotAUsageError) {
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(runCli({"list", "--address", "192.0.2.77"}, out, err), kExitFailure);
  EXPECT_NE(err.str().find("192.0.2.77 is not an address of this host"), std::string::npos) << err.str();
  EXPECT_EQ(runCli({"list", "--interface", "no-such-if0"}, out, err), kExitFailure);
  EXPECT_EQ(out.str(), "");
}

TEST(CliSniffLine, NumbersTheUrlAndKeepsItOnOneLine) {
  EXPECT_EQ(sniffLine(3, "http://a/b?c=1&d=2", false), "3\thttp://a/b?c=1&d=2");
  EXPECT_EQ(sniffLine(1, "http://a/x\r\ny\tz", false), "1\thttp://a/x%0D%0Ay%09z");
  // GBK inside, UTF-8 out; JSON escapes what JSON must.
  const std::string gbk = "http://a/\xbd\xda\xc4\xbf\"q\".m3u8";
  EXPECT_EQ(sniffLine(2, gbk, false), "2\thttp://a/节目\"q\".m3u8");
  EXPECT_EQ(sniffLine(2, gbk, true), "{\"index\":2,\"url\":\"http://a/节目\\\"q\\\".m3u8\"}");
}

}  // namespace
}  // namespace tavrin
