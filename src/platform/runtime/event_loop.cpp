#include "platform/runtime/event_loop.h"

namespace nuv {

EventLoop::EventLoop() : keep_running_(asio::make_work_guard(context_)) {
  for (std::size_t i = 0; i < kWorkerThreads; ++i) {
    workers_.emplace_back([this] { context_.run(); });
  }
}

EventLoop::~EventLoop() { shutdown(); }

void EventLoop::spawn_blocking(std::function<void()> work) {
  std::lock_guard lock(pool_mutex_);
  if (pool_stopping_) return;
  pool_queue_.push_back(std::move(work));
  // Idle workers already woken for earlier work are spoken for: a read must
  // never wait behind another read that may block for as long as the child
  // lives.
  if (pool_queue_.size() > pool_idle_ && pool_threads_.size() < kMaxBlockingWorkers) {
    pool_threads_.emplace_back([this] { blocking_worker(); });
  }
  pool_wake_.notify_one();
}

std::size_t EventLoop::blocking_workers() const {
  std::lock_guard lock(pool_mutex_);
  return pool_threads_.size();
}

std::size_t EventLoop::idle_blocking_workers() const {
  std::lock_guard lock(pool_mutex_);
  return pool_idle_;
}

void EventLoop::blocking_worker() {
  std::unique_lock lock(pool_mutex_);
  for (;;) {
    ++pool_idle_;
    pool_wake_.wait(lock, [this] { return pool_stopping_ || !pool_queue_.empty(); });
    --pool_idle_;
    if (pool_stopping_) return;
    auto work = std::move(pool_queue_.front());
    pool_queue_.pop_front();
    lock.unlock();
    work();
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
