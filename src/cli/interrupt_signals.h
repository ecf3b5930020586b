#pragma once
// Ctrl-C (SIGINT) and SIGTERM as an event the main thread waits for: both
// are blocked in the thread that makes this object, and so in every thread
// it starts afterwards, and taken with sigtimedwait. No handler runs at an
// arbitrary point, so ending is an ordinary return that frees everything.
#include <signal.h>

namespace tavrin {

class InterruptSignals {
 public:
  InterruptSignals();
  // Restores the signal mask as it was.
  ~InterruptSignals();
  InterruptSignals(const InterruptSignals&) = delete;
  InterruptSignals& operator=(const InterruptSignals&) = delete;

  // Waits up to the seconds (negative: without end) for one of the signals;
  // true when one came, now or earlier.
  bool waitFor(double seconds);
  bool interrupted() const { return interrupted_; }

 private:
  sigset_t signals_;
  sigset_t previous_;
  bool interrupted_ = false;
};

}  // namespace tavrin
