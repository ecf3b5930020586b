#include "platform/handler_worker_pool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace tavrin {
namespace {

// An idle thread leaves after this long; a steady stream of requests keeps
// the threads it needs.
constexpr std::chrono::seconds kIdleThreadLifetime(30);

}  // namespace

struct HandlerWorkerPool::State {
  std::mutex mutex;
  std::condition_variable workAvailable;
  std::condition_variable threadLeft;
  std::deque<std::function<void()>> tasks;
  int maxThreads = 1;
  int threads = 0;
  int waiting = 0;
  bool closed = false;
};

HandlerWorkerPool::HandlerWorkerPool(int maxThreads) : state_(std::make_shared<State>()) {
  state_->maxThreads = maxThreads < 1 ? 1 : maxThreads;
}

HandlerWorkerPool::~HandlerWorkerPool() { close(std::chrono::milliseconds(0)); }

bool HandlerWorkerPool::post(std::function<void()> task) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  if (state_->closed) return false;
  state_->tasks.push_back(std::move(task));
  if (state_->waiting >= static_cast<int>(state_->tasks.size())) {
    state_->workAvailable.notify_one();
    return true;
  }
  if (state_->threads >= state_->maxThreads) return true;  // queued for the next free thread
  try {
    std::thread(&HandlerWorkerPool::runWorker, state_).detach();
  } catch (const std::system_error&) {
    if (state_->threads > 0) return true;
    state_->tasks.pop_back();
    return false;
  }
  ++state_->threads;
  return true;
}

bool HandlerWorkerPool::close(std::chrono::milliseconds grace) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->closed = true;
  state_->tasks.clear();
  state_->workAvailable.notify_all();
  return state_->threadLeft.wait_for(lock, grace, [this] { return state_->threads == 0; });
}

void HandlerWorkerPool::runWorker(std::shared_ptr<State> state) {
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    ++state->waiting;
    const bool woken = state->workAvailable.wait_for(lock, kIdleThreadLifetime, [&] {
      return state->closed || !state->tasks.empty();
    });
    --state->waiting;
    if (!woken || state->closed) break;
    std::function<void()> task = std::move(state->tasks.front());
    state->tasks.pop_front();
    lock.unlock();
    task();
    task = nullptr;  // the task's captures go before the lock is taken again
    lock.lock();
  }
  --state->threads;
  state->threadLeft.notify_all();
}

}  // namespace tavrin
