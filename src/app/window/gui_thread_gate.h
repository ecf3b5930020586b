#pragma once
// Runs work on the GUI thread while the calling thread waits, the way a
// window message sent from another thread does. At exit the gate closes:
// waiting callers are released without their work, and later calls return
// at once, so that the GUI thread can stop the threads that call it without
// waiting for them while they wait for it.
#include <functional>
#include <memory>

namespace tavrin {

class GuiThreadGate {
 public:
  GuiThreadGate();

  // On the GUI thread the work runs at once. From another thread it is
  // queued to the GUI thread and the caller waits until it has run; false
  // (work not run) when the gate is or becomes closed first.
  bool run(const std::function<void()>& work) const;

  // Closes the gate; call on the GUI thread when exit begins.
  void close() const;
  bool isClosed() const;

  static bool onGuiThread();

 private:
  struct Shared;
  // Copies share one gate; queued work keeps it alive.
  std::shared_ptr<Shared> shared_;
};

}  // namespace tavrin
