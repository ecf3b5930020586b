#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/command_runner.h"
#include "host/firewall_rule.h"
#include "host/nft_ruleset.h"
#include "host/program_path.h"
#include "host/windows_firewall.h"
#include "platform/text_encoding.h"

namespace tavrin {
namespace {

// --- Windows: the netsh command lines and their judgement, with a fake runner.

struct FakeNetsh {
  std::string deleteOutput;
  std::string addOutput;
  std::vector<std::string> commands;

  CommandRunner runner() {
    return [this](const std::string& line) {
      commands.push_back(line);
      return line.find(" delete ") != std::string::npos ? deleteOutput : addOutput;
    };
  }
};

TEST(WindowsFirewall, BuildsTheTwoNetshCommandLines) {
  EXPECT_EQ(firewallDeleteCommand("kqvd"), "netsh advfirewall firewall delete rule name=\"kqvd\"");
  EXPECT_EQ(firewallAddCommand("kqvd", "in", "C:\\Program Files\\Tavrin\\tavrin.exe"),
            "netsh advfirewall firewall add rule name=\"kqvd\" dir=in action=allow "
            "program=\"C:\\Program Files\\Tavrin\\tavrin.exe\"");
}

TEST(WindowsFirewall, DeletesThenAddsAndJudgesTheAddOutputByTheChineseConfirmation) {
  const std::string confirmed = utf8ToGbk("确定。\r\n");
  struct Case {
    const char* what;
    std::string deleteOutput;
    std::string addOutput;
    bool expected;
  } cases[] = {
      {"confirmed", utf8ToGbk("没有与指定标准相匹配的规则。"), confirmed, true},
      {"confirmed after other text", "", "\r\n" + confirmed, true},
      {"English netsh", "Ok.\r\n", "Ok.\r\n", false},
      {"the add could not start", confirmed, "", false},
      {"the word in UTF-8, not the console's GBK", "", "确定。", false},
  };
  for (const Case& c : cases) {
    FakeNetsh netsh{c.deleteOutput, c.addOutput, {}};
    WindowsFirewallBackend backend(netsh.runner(), "C:\\T\\t.exe");
    EXPECT_EQ(backend.ensureRule("kqvd", "in"), c.expected) << c.what;
    EXPECT_EQ(netsh.commands, (std::vector<std::string>{
                                  "netsh advfirewall firewall delete rule name=\"kqvd\"",
                                  "netsh advfirewall firewall add rule name=\"kqvd\" dir=in action=allow "
                                  "program=\"C:\\T\\t.exe\""}))
        << c.what;
  }
}

TEST(WindowsFirewall, FindsTheConfirmationOnlyOnCharacterBoundaries) {
  // "确定" is C8B7 B6A8 in GBK; here those bytes straddle other characters.
  FakeNetsh netsh{"", "\x81\xC8\xB7\xB6\xA8\x41", {}};
  WindowsFirewallBackend backend(netsh.runner(), "C:\\t.exe");
  EXPECT_FALSE(backend.ensureRule("kqvd", "in"));
}

// --- Linux: fake front-ends in a temporary directory that is the whole PATH,
// so the host's real firewall tools can never be reached.

class LinuxFirewall : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavrin-firewall-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "";
    ::setenv("PATH", dir_.c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", savedPath_.c_str(), 1);
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  // A fake front-end: records its arguments in "calls", then runs body.
  void fake(const std::string& name, const std::string& body) {
    const std::string file = dir_ + "/" + name;
    std::ofstream script(file);
    script << "#!/bin/sh\nprintf '%s\\n' \"" << name << " $*\" >> '" << dir_ << "/calls'\n" << body << "\n";
    script.close();
    ::chmod(file.c_str(), 0755);
  }

  std::vector<std::string> calls() {
    std::vector<std::string> lines;
    std::ifstream file(dir_ + "/calls");
    std::string line;
    while (std::getline(file, line)) lines.push_back(line);
    return lines;
  }

  bool called(const std::string& start) {
    for (const std::string& line : calls()) {
      if (line.compare(0, start.size(), start) == 0) return true;
    }
    return false;
  }

  std::string dir_;
  std::string savedPath_;
};

const char kUfwActive[] = R"sh(case "$1" in
  status) echo "Status: active"; echo; echo "To Action From" ;;
  allow) echo "Rule added"; echo "Rule added (v6)" ;;
  delete) echo "Could not delete non-existent rule" ;;
esac)sh";

const char kDroppingRuleset[] = R"sh(table inet filter { # handle 3
	set trusted { # handle 4
		type ipv4_addr
		elements = { 10.0.0.1,
			     10.0.0.2 }
	}
	chain input { # handle 1
		type filter hook input priority filter; policy drop;
		iif "lo" accept # handle 5
		tcp dport 16789-16798 accept comment "kqvd" # handle 7
		tcp dport 22 accept comment "ssh from anywhere" # handle 8
	}
	chain output { # handle 2
		type filter hook output priority filter; policy accept;
	}
}
)sh";

TEST_F(LinuxFirewall, SucceedsWithoutChangesWhenNoFirewallIsThere) {
  EXPECT_TRUE(ensureFirewallRule("kqvd", "in"));
  EXPECT_TRUE(calls().empty());
}

TEST_F(LinuxFirewall, SucceedsWithoutChangesWhenEveryFirewallIsInactive) {
  fake("ufw", "echo 'Status: inactive'");
  fake("firewall-cmd", "echo 'not running'; exit 252");
  fake("nft", "printf 'table inet filter { # handle 1\\n\\tchain input { # handle 1\\n"
              "\\t\\ttype filter hook input priority filter; policy accept;\\n\\t}\\n}\\n'");
  EXPECT_TRUE(ensureFirewallRule("kqvd", "in"));
  EXPECT_EQ(calls(), (std::vector<std::string>{"ufw status", "firewall-cmd --state", "nft -a list ruleset"}));
}

TEST_F(LinuxFirewall, ReplacesTheUfwRulesOfTheProgramsPorts) {
  fake("ufw", kUfwActive);
  fake("nft", "echo should not be asked; exit 1");
  EXPECT_TRUE(ensureFirewallRule("kqvd", "in"));
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "ufw status",
                         "ufw delete allow in proto tcp to any port 16789:16798",
                         "ufw delete allow in proto tcp to any port 18889:18898",
                         "ufw delete allow in proto udp to any port 1900",
                         "ufw allow in proto tcp to any port 16789:16798 comment kqvd",
                         "ufw allow in proto tcp to any port 18889:18898 comment kqvd",
                         "ufw allow in proto udp to any port 1900 comment kqvd",
                     }));
}

TEST_F(LinuxFirewall, FailsWhenTheActiveFirewallRefusesTheRule) {
  fake("ufw", R"sh(case "$1" in status) echo "Status: active" ;; *) echo "ERROR: You need to be root" >&2; exit 1 ;; esac)sh");
  EXPECT_FALSE(ensureFirewallRule("kqvd", "in"));
  EXPECT_TRUE(called("ufw allow"));
}

TEST_F(LinuxFirewall, FailsWhenAFirewallStateCannotBeRead) {
  fake("ufw", "echo 'ERROR: You need to be root to run this script' >&2; exit 1");
  EXPECT_FALSE(ensureFirewallRule("kqvd", "in"));
  EXPECT_FALSE(called("ufw allow"));
}

TEST_F(LinuxFirewall, FailsWhenAFrontEndHangs) {
  const auto previous = setCommandTimeLimit(std::chrono::milliseconds(300));
  fake("ufw", "while :; do :; done");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ensureFirewallRule("kqvd", "in"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  setCommandTimeLimit(previous);
}

TEST_F(LinuxFirewall, AddsAPermanentFirewalldServiceAndOpensThePortsNow) {
  fake("ufw", "echo 'Status: inactive'");
  fake("firewall-cmd", "[ \"$1\" = --state ] && echo running; exit 0");
  EXPECT_TRUE(ensureFirewallRule("kqvd", "in"));
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "ufw status",
                         "firewall-cmd --state",
                         "firewall-cmd --permanent --remove-service=kqvd",
                         "firewall-cmd --permanent --delete-service=kqvd",
                         "firewall-cmd --remove-port=16789-16798/tcp --remove-port=18889-18898/tcp "
                         "--remove-port=1900/udp",
                         "firewall-cmd --permanent --new-service=kqvd",
                         "firewall-cmd --permanent --service=kqvd --add-port=16789-16798/tcp",
                         "firewall-cmd --permanent --service=kqvd --add-port=18889-18898/tcp",
                         "firewall-cmd --permanent --service=kqvd --add-port=1900/udp",
                         "firewall-cmd --permanent --add-service=kqvd",
                         "firewall-cmd --add-port=16789-16798/tcp --add-port=18889-18898/tcp --add-port=1900/udp",
                     }));
}

TEST_F(LinuxFirewall, FailsWhenFirewalldRefuses) {
  fake("firewall-cmd", R"sh([ "$1" = --state ] && echo running && exit 0; echo "Authorization failed." >&2; exit 11)sh");
  EXPECT_FALSE(ensureFirewallRule("kqvd", "in"));
}

TEST_F(LinuxFirewall, ReplacesTheNftablesRulesInTheFilteringInputChain) {
  {
    std::ofstream ruleset(dir_ + "/ruleset");
    ruleset << kDroppingRuleset;
  }
  fake("nft", "[ \"$1\" = -a ] && while IFS= read -r line; do printf '%s\\n' \"$line\"; done < '" + dir_ +
                  "/ruleset'; exit 0");
  EXPECT_TRUE(ensureFirewallRule("kqvd", "in"));
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "nft -a list ruleset",
                         "nft delete rule inet filter input handle 7",
                         "nft insert rule inet filter input tcp dport 16789-16798 accept comment \"kqvd\"",
                         "nft insert rule inet filter input tcp dport 18889-18898 accept comment \"kqvd\"",
                         "nft insert rule inet filter input udp dport 1900 accept comment \"kqvd\"",
                     }));
}

TEST_F(LinuxFirewall, FailsWhenNftablesRefuses) {
  {
    std::ofstream ruleset(dir_ + "/ruleset");
    ruleset << kDroppingRuleset;
  }
  fake("nft", "[ \"$1\" = -a ] && while IFS= read -r line; do printf '%s\\n' \"$line\"; done < '" + dir_ +
                  "/ruleset' && exit 0; echo 'Error: Could not process rule: Operation not permitted' >&2; exit 1");
  EXPECT_FALSE(ensureFirewallRule("kqvd", "in"));
  EXPECT_TRUE(called("nft insert"));
}

TEST_F(LinuxFirewall, OpensOnlyIncomingTrafficAndOnlyUnderAPlainName) {
  fake("ufw", kUfwActive);
  EXPECT_FALSE(ensureFirewallRule("kqvd", "out"));
  EXPECT_FALSE(ensureFirewallRule("a'b; rm -rf x", "in"));
  EXPECT_FALSE(ensureFirewallRule("", "in"));
  EXPECT_FALSE(called("ufw allow"));
  EXPECT_FALSE(called("ufw delete"));
}

TEST(NftRuleset, FindsInputChainsThatDropAndTheirCommentedRules) {
  std::vector<NftChain> chains = parseNftRuleset(std::string(kDroppingRuleset) +
                                                 "table netdev edge { # handle 9\n"
                                                 "\tchain input { # handle 1\n"
                                                 "\t\ttype filter hook ingress device \"eth0\" priority 0; policy drop;\n"
                                                 "\t}\n"
                                                 "}\n"
                                                 "table ip nat { # handle 10\n"
                                                 "\tchain input { # handle 1\n"
                                                 "\t\ttype nat hook input priority 100; policy accept;\n"
                                                 "\t\ttcp dport 1 reject # handle 3\n"
                                                 "\t}\n"
                                                 "}\n");
  ASSERT_EQ(chains.size(), 4u);
  EXPECT_EQ(chains[0].family, "inet");
  EXPECT_EQ(chains[0].table, "filter");
  EXPECT_EQ(chains[0].name, "input");
  EXPECT_TRUE(filtersIncoming(chains[0]));
  ASSERT_EQ(chains[0].rules.size(), 3u);
  EXPECT_EQ(chains[0].rules[1].handle, 7);
  EXPECT_EQ(chains[0].rules[1].comment, "kqvd");
  EXPECT_EQ(chains[0].rules[2].comment, "ssh from anywhere");
  EXPECT_FALSE(filtersIncoming(chains[1]));  // output hook
  EXPECT_FALSE(filtersIncoming(chains[2]));  // netdev ingress
  EXPECT_TRUE(filtersIncoming(chains[3]));   // a reject rule filters too
  EXPECT_TRUE(parseNftRuleset("garbage {\n}}}\n\n{").empty());
}

TEST(ProgramPath, IsTheRealPathOfThisExecutable) {
  std::string path = programPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(path.substr(path.rfind('/')), "/firewall_rule_test");
  EXPECT_EQ(::access(path.c_str(), X_OK), 0);
}

}  // namespace
}  // namespace tavrin
