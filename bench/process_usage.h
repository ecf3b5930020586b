#pragma once
// What a running process holds, read from /proc: resident memory and open
// file descriptors.
#include <sys/types.h>

#include <string>

namespace tavrin::bench {

struct ProcessUsage {
  bool ok = false;
  long rssKiB = 0;   // VmRSS
  int fds = 0;       // entries of /proc/<pid>/fd
  int fdsOnFile = 0;  // those of them open on the file asked about
};

// The usage of the process; fdsOnFile counts the descriptors open on
// `file` (a path as /proc shows it), which a server sending that file holds
// only while a response is under way.
ProcessUsage readProcessUsage(pid_t pid, const std::string& file = "");

}  // namespace tavrin::bench
