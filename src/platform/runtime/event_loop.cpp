#include "platform/runtime/event_loop.h"

namespace nuv {

EventLoop::EventLoop() : keep_running_(asio::make_work_guard(context_)) {
  try {
    workers_.reserve(kWorkerThreads);
    for (std::size_t i = 0; i < kWorkerThreads; ++i) {
      workers_.emplace_back([this] { loop_worker(); });
    }
  } catch (...) {
    // A started thread left joinable would end the process when workers_ is
    // destroyed; the caller gets the failure instead.
    shutdown();
    throw;
  }
}

EventLoop::~EventLoop() { shutdown(); }

bool EventLoop::spawn_blocking(std::function<void()> work) noexcept {
  std::lock_guard lock(pool_mutex_);
  if (pool_stopping_) return false;
  try {
    pool_queue_.push_back(std::move(work));
  } catch (...) {
    return false;
  }
  // Idle workers already woken for earlier work are spoken for: a read must
  // never wait behind another read that may block for as long as the child
  // lives.
  if (pool_queue_.size() > pool_idle_ && pool_threads_.size() < kMaxBlockingWorkers) {
    try {
      pool_threads_.emplace_back([this] { blocking_worker(); });
    } catch (...) {
      // Queued, it would wait behind reads that may last as long as their
      // children: better refused now.
      pool_queue_.pop_back();
      return false;
    }
  }
  pool_wake_.notify_one();
  return true;
}

std::size_t EventLoop::blocking_workers() const {
  std::lock_guard lock(pool_mutex_);
  return pool_threads_.size();
}

std::size_t EventLoop::idle_blocking_workers() const {
  std::lock_guard lock(pool_mutex_);
  return pool_idle_;
}

void EventLoop::loop_worker() noexcept {
  for (;;) {
    try {
      context_.run();
      return;
    } catch (...) {
      // A handler threw; run() may be called again to go on with the rest.
    }
  }
}

void EventLoop::blocking_worker() noexcept {
  std::unique_lock lock(pool_mutex_);
  for (;;) {
    ++pool_idle_;
    pool_wake_.wait(lock, [this] { return pool_stopping_ || !pool_queue_.empty(); });
    --pool_idle_;
    if (pool_stopping_) return;
    auto work = std::move(pool_queue_.front());
    pool_queue_.pop_front();
    lock.unlock();
    try {
      work();
    } catch (...) {
      // Dropped: the worker serves on.
    }
    work = nullptr;  // whatever the work holds is released outside the lock
    lock.lock();
  }
}

void EventLoop::shutdown() {
  if (shut_down_) return;
  shut_down_ = true;

  keep_running_.reset();
  context_.stop();
  for (auto& worker : workers_) worker.join();

  {
    std::lock_guard lock(pool_mutex_);
    pool_stopping_ = true;
    pool_queue_.clear();
  }
  pool_wake_.notify_all();
  for (auto& thread : pool_threads_) thread.join();
}

}  // namespace nuv
