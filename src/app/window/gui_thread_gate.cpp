#include "app/window/gui_thread_gate.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <mutex>

namespace tavrin {

struct GuiThreadGate::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  bool closed = false;
};

namespace {

// One queued piece of work, with its progress on the GUI thread.
struct QueuedCall {
  const std::function<void()>* work = nullptr;
  bool running = false;
  bool done = false;
};

}  // namespace

GuiThreadGate::GuiThreadGate() : shared_(std::make_shared<Shared>()) {}

bool GuiThreadGate::onGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

bool GuiThreadGate::run(const std::function<void()>& work) const {
  if (onGuiThread()) {
    work();
    return true;
  }
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  auto call = std::make_shared<QueuedCall>();
  call->work = &work;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->closed) return false;
  }
  std::shared_ptr<Shared> shared = shared_;
  QMetaObject::invokeMethod(
      app,
      [shared, call] {
        // A closed gate has released the caller, whose work is gone. Work
        // that has begun keeps its caller waiting, even if the gate closes
        // inside it (a modal box runs a loop of its own).
        {
          std::lock_guard<std::mutex> lock(shared->mutex);
          if (shared->closed) return;
          call->running = true;
        }
        (*call->work)();
        std::lock_guard<std::mutex> lock(shared->mutex);
        call->done = true;
        shared->changed.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->changed.wait(lock, [&] { return call->done || (shared_->closed && !call->running); });
  return call->done;
}

void GuiThreadGate::close() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->closed = true;
  shared_->changed.notify_all();
}

bool GuiThreadGate::isClosed() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->closed;
}

}  // namespace tavrin
