#pragma once
// Runs a shell command line hidden and collects everything it prints.
#include <chrono>
#include <string>

namespace tavrin {

// Runs the command line with /bin/sh -c, standard input from /dev/null and
// standard output and standard error into one pipe, and returns the bytes in
// the order they arrived, unchanged: on Linux commands print UTF-8, so callers
// that judge the text compare it with UTF-8 literals (or convert it with
// utf8ToGbk before it becomes one of the program's GBK texts). The exit code is
// not reported. The empty text when the process cannot be started (including a
// command line with a zero byte or one too long for the kernel) or prints
// nothing.
//
// The wait ends when the shell has exited and nothing more is waiting in the
// pipe, or when the time limit is reached: then the shell's whole process group
// is killed and what was collected so far is returned. Between reads the GUI
// handles its pending events (handlePendingEvents). The shell is always reaped.
std::string runCommand(const std::string& commandLine);

// The bound on one runCommand; 30 seconds unless set. Returns the previous one.
std::chrono::milliseconds setCommandTimeLimit(std::chrono::milliseconds limit);

}  // namespace tavrin
