#include "host/program_path.h"

#include <climits>
#include <cstdlib>
#include <memory>

namespace tavrin {

std::string programPath() {
  // realpath resolves /proc/self/exe to the executable itself.
  std::unique_ptr<char, decltype(&std::free)> path(::realpath("/proc/self/exe", nullptr), &std::free);
  return path ? std::string(path.get()) : std::string();
}

}  // namespace tavrin
