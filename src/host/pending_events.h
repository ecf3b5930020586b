#pragma once
// Long waits on the GUI thread (a command that runs, a service that stops)
// call handlePendingEvents between their steps so the window stays alive.
// The window installs the routine that does it; without one nothing happens.
#include <functional>

namespace tavrin {

using PendingEventsHook = std::function<void()>;

// Installs the routine that lets the GUI handle its pending events and
// returns the previous one. An empty hook means nothing to do.
PendingEventsHook setPendingEventsHook(PendingEventsHook hook);

// Runs the installed routine, if any, on the calling thread.
void handlePendingEvents();

}  // namespace tavrin
