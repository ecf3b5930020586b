#pragma once
// A program started by the benchmark as its direct child, in the same
// network namespace, talked to in lines over its standard input and output.
// The child dies with the benchmark; the object kills it if still running.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tavrin::bench {

class PipedChild {
 public:
  explicit PipedChild(const std::vector<std::string>& command);
  ~PipedChild();
  PipedChild(const PipedChild&) = delete;
  PipedChild& operator=(const PipedChild&) = delete;

  pid_t pid() const { return pid_; }
  bool sendLine(const std::string& line);
  // The next line of output without its newline; false on time-out or when
  // the output has ended.
  bool readLine(std::string& line, std::chrono::milliseconds timeout);
  // Closes the child's input and waits for it: its exit status, or -1 when
  // it was killed by a signal or still runs at the time-out (it is then
  // killed).
  int waitForExit(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
  bool reaped_ = false;
};

}  // namespace tavrin::bench
