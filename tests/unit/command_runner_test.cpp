#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "host/command_runner.h"
#include "host/pending_events.h"
#include "host/shell_command.h"

namespace tavrin {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

int openFdCount() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
  }
  return count;
}

// True once the process is gone or only a zombie waiting for its reaper.
bool processDead(const std::string& pid) {
  for (int i = 0; i < 100; ++i) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    size_t close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z') return true;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return false;
}

// Sets the time limit for one test and restores it afterwards.
class TimeLimit {
 public:
  explicit TimeLimit(milliseconds limit) : previous_(setCommandTimeLimit(limit)) {}
  ~TimeLimit() { setCommandTimeLimit(previous_); }

 private:
  milliseconds previous_;
};

TEST(RunCommand, ReturnsEverythingPrintedInArrivalOrder) {
  struct Case {
    const char* command;
    std::string expected;
  } cases[] = {
      {"true", ""},
      {"printf one; sleep 0.05; printf two; sleep 0.05; printf three", "onetwothree"},
      {"echo out; sleep 0.05; echo err >&2; sleep 0.05; echo out2", "out\nerr\nout2\n"},
      {"echo before; exit 3", "before\n"},
      {"nosuchcommand-tavrin 2>/dev/null", ""},
      {"read line; echo \"[$line]\"", "[]\n"},  // standard input is empty
      {"printf '\\344\\270\\255\\000z'", std::string("\xE4\xB8\xAD\0z", 5)},  // bytes unchanged
  };
  for (const Case& c : cases) EXPECT_EQ(runCommand(c.command), c.expected) << c.command;
}

TEST(RunCommand, GivesTheCommandDefaultSignalHandling) {
  // Network libraries make programs ignore SIGPIPE; a pipeline in the command
  // must still end quietly when its reader has had enough.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous {};
  ::sigaction(SIGPIPE, &ignore, &previous);
  std::string output = runCommand("yes | head -c 4");
  ::sigaction(SIGPIPE, &previous, nullptr);
  EXPECT_EQ(output, "y\ny\n");
}

TEST(RunCommand, ReturnsTheEmptyTextWhenTheProcessCannotStart) {
  EXPECT_EQ(runCommand(std::string("echo a\0b", 8)), "");
  // One argument longer than the kernel takes: exec fails before anything runs.
  EXPECT_EQ(runCommand("echo " + std::string(300 * 1024, 'a')), "");
}

TEST(RunCommand, CollectsMegabytesWithoutLoss) {
  std::string expected;
  for (int i = 1; i <= 300000; ++i) expected += std::to_string(i) + "\n";
  std::string output = runCommand("seq 1 300000; head -c 3000000 /dev/zero | tr '\\0' x >&2");
  ASSERT_EQ(output.size(), expected.size() + 3000000);
  EXPECT_EQ(output.substr(0, expected.size()), expected);
  EXPECT_EQ(output.find_first_not_of('x', expected.size()), std::string::npos);
}

TEST(RunCommand, WaitsForACommandThatIsSilentForLong) {
  EXPECT_EQ(runCommand("sleep 1.2; echo late"), "late\n");
}

TEST(RunCommand, KillsTheWholeCommandAtTheTimeLimit) {
  TimeLimit limit(milliseconds(400));
  const auto start = steady_clock::now();
  std::string output = runCommand("sleep 60 & echo $!; sleep 60");
  EXPECT_LT(steady_clock::now() - start, milliseconds(5000));
  ASSERT_FALSE(output.empty());
  std::string pid = output.substr(0, output.find('\n'));
  EXPECT_TRUE(processDead(pid)) << "the background process " << pid << " outlived the limit";

  // A command that never exits and prints nothing.
  EXPECT_EQ(runCommand("while :; do :; done"), "");
}

TEST(RunCommand, EndsWhenTheShellEndsThoughABackgroundProcessHoldsThePipe) {
  const auto start = steady_clock::now();
  std::string output = runCommand("sleep 3 & echo $!; echo done");
  EXPECT_LT(steady_clock::now() - start, milliseconds(2500));
  EXPECT_NE(output.find("done\n"), std::string::npos);
  ::kill(std::stoi(output), SIGKILL);
}

TEST(RunCommand, LeavesNoZombieAndNoOpenDescriptor) {
  const int before = openFdCount();
  {
    TimeLimit limit(milliseconds(300));
    runCommand("echo a; echo b >&2");
    runCommand("sleep 5");
    runCommand(std::string("x\0", 2));
  }
  EXPECT_EQ(openFdCount(), before);
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(RunCommand, LetsTheGuiHandleEventsWhileItWaits) {
  int calls = 0;
  PendingEventsHook previous = setPendingEventsHook([&calls] { ++calls; });
  EXPECT_EQ(runCommand("sleep 0.3; echo x"), "x\n");
  setPendingEventsHook(previous);
  EXPECT_GE(calls, 5);
}

TEST(ShellCommand, QuotesAnyTextAsOneWord) {
  const std::string text = "it's $HOME `id` \"a b\" ; \\ *";
  EXPECT_EQ(runCommand("printf %s " + shellQuote(text)), text);
}

TEST(ShellCommand, ReportsTheExitStatus) {
  ShellResult result = runShell("echo out; exit 3");
  EXPECT_EQ(result.output, "out\n");
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_EQ(runShell("printf partial").output, "partial");
  EXPECT_EQ(runShell("printf partial").exitStatus, 0);
  EXPECT_EQ(runShell("nosuchcommand-tavrin").exitStatus, 127);
  TimeLimit limit(milliseconds(300));
  EXPECT_EQ(runShell("sleep 5").exitStatus, -1);
}

}  // namespace
}  // namespace tavrin
