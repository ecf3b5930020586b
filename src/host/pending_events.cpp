#include "host/pending_events.h"

#include <mutex>
#include <utility>

namespace tavrin {
namespace {

std::mutex hookMutex;
PendingEventsHook& installedHook() {
  static PendingEventsHook hook;
  return hook;
}

}  // namespace

PendingEventsHook setPendingEventsHook(PendingEventsHook hook) {
  std::lock_guard<std::mutex> lock(hookMutex);
  std::swap(installedHook(), hook);
  return hook;
}

void handlePendingEvents() {
  PendingEventsHook hook;
  {
    std::lock_guard<std::mutex> lock(hookMutex);
    hook = installedHook();
  }
  // Called without the lock: the hook may run handlers that wait on commands.
  if (hook) hook();
}

}  // namespace tavrin
