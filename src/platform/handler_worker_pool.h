#pragma once
// The threads that run the path handlers of one EmbeddedHttpServer. A handler
// may block for a long time (waiting for the window, say), so the pool grows
// while every thread is busy, up to a cap, and threads that stay idle leave.
// The threads are detached and share the pool's state, so a handler that is
// still running when its server goes away harms nothing.
#include <chrono>
#include <functional>
#include <memory>

namespace tavrin {

class HandlerWorkerPool {
 public:
  explicit HandlerWorkerPool(int maxThreads);
  // Closes the pool without waiting.
  ~HandlerWorkerPool();
  HandlerWorkerPool(const HandlerWorkerPool&) = delete;
  HandlerWorkerPool& operator=(const HandlerWorkerPool&) = delete;

  // Queues a task; false when the pool is closed or no thread can be made.
  bool post(std::function<void()> task);
  // Refuses further tasks, drops queued ones and waits up to `grace` for
  // running tasks to end; true when every thread has left.
  bool close(std::chrono::milliseconds grace);

 private:
  struct State;
  static void runWorker(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

}  // namespace tavrin
