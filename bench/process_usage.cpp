#include "process_usage.h"

#include <dirent.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace tavrin::bench {

ProcessUsage readProcessUsage(pid_t pid, const std::string& file) {
  ProcessUsage usage;
  const std::string dir = "/proc/" + std::to_string(pid);
  std::ifstream status(dir + "/status");
  bool rssFound = false;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) {
      usage.rssKiB = std::atol(line.c_str() + 6);
      rssFound = true;
    }
  }
  DIR* fds = ::opendir((dir + "/fd").c_str());
  if (!fds) return usage;
  while (dirent* entry = ::readdir(fds)) {
    if (entry->d_name[0] == '.') continue;
    ++usage.fds;
    if (file.empty()) continue;
    char target[PATH_MAX];
    const ssize_t length = ::readlink((dir + "/fd/" + entry->d_name).c_str(), target, sizeof target);
    if (length > 0 && file.compare(0, std::string::npos, target, static_cast<size_t>(length)) == 0) ++usage.fdsOnFile;
  }
  ::closedir(fds);
  usage.ok = rssFound;
  return usage;
}

}  // namespace tavrin::bench
