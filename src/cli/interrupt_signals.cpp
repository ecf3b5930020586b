#include "cli/interrupt_signals.h"

#include <pthread.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>

namespace tavrin {

InterruptSignals::InterruptSignals() {
  sigemptyset(&signals_);
  sigaddset(&signals_, SIGINT);
  sigaddset(&signals_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
}

InterruptSignals::~InterruptSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

bool InterruptSignals::waitFor(double seconds) {
  if (interrupted_) return true;
  using Clock = std::chrono::steady_clock;
  const bool endless = seconds < 0;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(endless ? 0 : seconds));
  for (;;) {
    timespec timeout{};
    if (endless) {
      timeout.tv_sec = 3600;
    } else {
      const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
      if (left < 0) return false;
      timeout.tv_sec = static_cast<time_t>(left / 1000000000);
      timeout.tv_nsec = static_cast<long>(left % 1000000000);
    }
    const int signal = sigtimedwait(&signals_, nullptr, &timeout);
    if (signal == SIGINT || signal == SIGTERM) {
      interrupted_ = true;
      return true;
    }
    if (signal < 0 && errno == EAGAIN && !endless) return false;
  }
}

}  // namespace tavrin
