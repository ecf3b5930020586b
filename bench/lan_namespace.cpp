#include "lan_namespace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixtures/lan_process.h"

namespace tavrin::bench {
namespace {

constexpr char kNamedNamespaces[] = "/run/netns/";

// The name prefix of the LAN: the named namespace that is the calling
// thread's own is "<prefix>-host". Empty when it is none.
std::string ownLanPrefix() {
  struct stat own {};
  if (::stat("/proc/thread-self/ns/net", &own) != 0) return {};
  DIR* names = ::opendir(kNamedNamespaces);
  if (!names) return {};
  std::string prefix;
  const std::string suffix = "-host";
  while (dirent* entry = ::readdir(names)) {
    const std::string name = entry->d_name;
    struct stat named {};
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0 ||
        ::stat((kNamedNamespaces + name).c_str(), &named) != 0) {
      continue;
    }
    if (named.st_dev == own.st_dev && named.st_ino == own.st_ino) {
      prefix = name.substr(0, name.size() - suffix.size());
      break;
    }
  }
  ::closedir(names);
  return prefix;
}

}  // namespace

bool enterLanHost(const std::string& host, const std::string& address) {
  const std::string prefix = ownLanPrefix();
  if (prefix.empty()) return false;
  const int fd = ::open((kNamedNamespaces + prefix + "-" + host).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const int entered = ::setns(fd, CLONE_NEWNET);
  ::close(fd);
  return entered == 0 && testing::hasLocalAddress(address);
}

}  // namespace tavrin::bench
