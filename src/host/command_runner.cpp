#include "host/command_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "host/pending_events.h"

namespace tavrin {
namespace {

// Long enough for any healthy firewall or service command (a firewall reload
// on a large rule set takes seconds), short enough that a hung one cannot
// freeze start-up; the same 30 s the system allows dependents to stop.
std::atomic<long long> timeLimitMs{30000};

// How long one wait for output lasts before the GUI gets its turn again.
constexpr int kPollSliceMs = 20;
constexpr int kExitSliceMs = 2;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// Reaps the child however the run ends; a child still running is killed with
// its process group first, so no zombie and no stray process is left.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  ~Child() {
    if (reaped_) return;
    killGroup();
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool exited() {
    if (reaped_) return true;
    pid_t result;
    do {
      result = ::waitpid(pid_, nullptr, WNOHANG);
    } while (result < 0 && errno == EINTR);
    // ECHILD: someone else (SIGCHLD ignored) reaped it; it is gone either way.
    reaped_ = result == pid_ || (result < 0 && errno == ECHILD);
    return reaped_;
  }

  void killGroup() {
    // The child made itself a session (and group) leader; killing the pid as
    // well covers the instant before it did so.
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
  }

 private:
  pid_t pid_;
  bool reaped_ = false;
};

// Appends what one read returns; the read's result (0 at end of file).
ssize_t readSome(int fd, std::string& output) {
  char buffer[65536];
  ssize_t count;
  do {
    count = ::read(fd, buffer, sizeof buffer);
  } while (count < 0 && errno == EINTR);
  if (count > 0) output.append(buffer, static_cast<size_t>(count));
  return count;
}

}  // namespace

std::chrono::milliseconds setCommandTimeLimit(std::chrono::milliseconds limit) {
  return std::chrono::milliseconds(timeLimitMs.exchange(limit.count()));
}

std::string runCommand(const std::string& commandLine) {
  std::string output;
  // A zero byte cannot reach the shell: the process cannot be started.
  if (commandLine.find('\0') != std::string::npos) return output;

  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return output;
  Fd readEnd(ends[0]);
  Fd writeEnd(ends[1]);
  Fd nullInput(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (nullInput.get() < 0) return output;

  // Everything the child needs is prepared before fork: between fork and exec
  // only async-signal-safe calls are allowed in a threaded program.
  const char* argv[] = {"sh", "-c", commandLine.c_str(), nullptr};
  const auto limit = std::chrono::milliseconds(timeLimitMs.load());
  const auto deadline = std::chrono::steady_clock::now() + limit;

  pid_t pid = ::fork();
  if (pid < 0) return output;
  if (pid == 0) {
    ::setsid();
    // Ignored signals and the signal mask survive exec; a program that
    // ignores SIGPIPE (as network libraries ask) must not hand that on, or
    // "producer | head" would never end.
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // Copies above 2 first: a program started with its standard descriptors
    // closed gets the pipe as 0, 1 or 2, and dup2 onto itself would keep
    // close-on-exec.
    const int inputFd = ::fcntl(nullInput.get(), F_DUPFD_CLOEXEC, 3);
    const int outputFd = ::fcntl(writeEnd.get(), F_DUPFD_CLOEXEC, 3);
    if (inputFd < 0 || outputFd < 0 || ::dup2(inputFd, 0) < 0 || ::dup2(outputFd, 1) < 0 || ::dup2(outputFd, 2) < 0) {
      ::_exit(127);
    }
    ::execv("/bin/sh", const_cast<char* const*>(argv));
    ::_exit(127);
  }
  Child child(pid);
  writeEnd.reset();
  nullInput.reset();
  ::fcntl(readEnd.get(), F_SETFL, ::fcntl(readEnd.get(), F_GETFL) | O_NONBLOCK);

  bool pipeOpen = true;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      child.killGroup();
      break;
    }
    pollfd wait{readEnd.get(), POLLIN, 0};
    // Once the pipe is closed only the shell's exit is awaited, in short steps.
    const int slice = pipeOpen ? kPollSliceMs : kExitSliceMs;
    int ready = ::poll(&wait, pipeOpen ? 1 : 0, static_cast<int>(std::min<long long>(left.count(), slice)));
    if (ready > 0) {
      ssize_t count = readSome(readEnd.get(), output);
      if (count == 0 || (count < 0 && errno != EAGAIN)) pipeOpen = false;
      if (!pipeOpen && child.exited()) break;
    } else if (ready == 0 && child.exited()) {
      // Nothing waiting and the shell is gone; a background process of it may
      // still hold the pipe open, but the command itself has ended. Take what
      // arrived in the meantime.
      while (pipeOpen && readSome(readEnd.get(), output) > 0) {
      }
      break;
    } else if (ready < 0 && errno != EINTR) {
      break;
    }
    handlePendingEvents();
  }
  return output;
}

}  // namespace tavrin
