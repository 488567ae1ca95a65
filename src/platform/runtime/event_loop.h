// The event loop that the journal recovery runs on: an Asio io_context driven
// by two worker threads, and beside it a pool of threads for work that must
// block (reading a child's pipes), started on demand, at most 512.
//
// The thread that owns the loop (the main thread) starts an operation and
// sleeps until it is done with run_blocking():
//
//   EventLoop loop;
//   auto outcome = loop.run_blocking(run_command(loop, request));
//
// Operations are asio::awaitable coroutines, so one operation can co_await
// another. The rollback engine is not one of them: it runs on the thread that
// owns the loop and blocks in run_blocking once per command, one command at a
// time (run_command_blocking). shutdown(), or the destructor, stops the loop
// and waits for every thread it started.
//
// No exception leaves a thread of the loop: one thrown by a handler or by
// blocking work is dropped there, and the thread goes on serving. Work that
// must report its failure catches it itself.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

namespace nuv {

class EventLoop {
 public:
  static constexpr std::size_t kWorkerThreads = 2;
  static constexpr std::size_t kMaxBlockingWorkers = 512;

  // Throws std::system_error when its threads cannot be started, having
  // joined those it did start.
  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  asio::io_context& context() { return context_; }
  asio::any_io_executor executor() { return context_.get_executor(); }

  // Hands `work` to a blocking worker: an idle one, else a new one while
  // fewer than kMaxBlockingWorkers exist; beyond that the work queues until a
  // worker is free. Workers stay until shutdown, to be reused. False, and
  // `work` is dropped unrun, when it cannot be handed over: after shutdown, or
  // when memory or a new thread could not be had.
  bool spawn_blocking(std::function<void()> work) noexcept;

  // How many blocking workers have been started, and how many of them wait
  // for work.
  std::size_t blocking_workers() const;
  std::size_t idle_blocking_workers() const;

  // Runs `operation` on the loop and blocks the calling thread until it has
  // finished. Never call it from a thread of the loop, nor after shutdown():
  // the operation would never run.
  template <class T>
  T run_blocking(asio::awaitable<T> operation);

  // Stops the loop and joins its threads; idempotent. Work still queued for
  // the blocking pool is dropped; work already running is waited for.
  void shutdown();

 private:
  void loop_worker() noexcept;
  void blocking_worker() noexcept;

  asio::io_context context_{static_cast<int>(kWorkerThreads)};
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> keep_running_;
  std::vector<std::thread> workers_;

  mutable std::mutex pool_mutex_;
  std::condition_variable pool_wake_;
  std::deque<std::function<void()>> pool_queue_;
  std::vector<std::thread> pool_threads_;
  std::size_t pool_idle_ = 0;
  bool pool_stopping_ = false;
  bool shut_down_ = false;
};

template <class T>
T EventLoop::run_blocking(asio::awaitable<T> operation) {
  std::promise<T> promise;
  std::future<T> done = promise.get_future();
  // A void-returning coroutine around the operation: co_spawn would want a
  // default-constructible T for its own result.
  asio::co_spawn(
      context_,
      [&promise, op = std::move(operation)]() mutable -> asio::awaitable<void> {
        if constexpr (std::is_void_v<T>) {
          co_await std::move(op);
          promise.set_value();
        } else {
          promise.set_value(co_await std::move(op));
        }
      },
      [&promise](std::exception_ptr failure) {
        if (failure) promise.set_exception(failure);
      });
  return done.get();
}

}  // namespace nuv
