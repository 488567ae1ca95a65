// The recovery's event loop: coroutines on two workers, blocking work on a
// pool that grows on demand up to its limit, and a shutdown that joins all.
#include <gtest/gtest.h>

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <new>
#include <thread>

#include "platform/runtime/event_loop.h"

namespace nuv {
namespace {

asio::awaitable<int> answer_after_a_timer(EventLoop& loop, std::thread::id* ran_on) {
  asio::steady_timer timer(loop.executor(), std::chrono::milliseconds(1));
  co_await timer.async_wait(asio::use_awaitable);
  *ran_on = std::this_thread::get_id();
  co_return 42;
}

asio::awaitable<int> sum_of_two(EventLoop& loop) {
  std::thread::id ignored;
  const int a = co_await answer_after_a_timer(loop, &ignored);
  const int b = co_await answer_after_a_timer(loop, &ignored);
  co_return a + b;
}

TEST(EventLoop, RunBlockingWaitsForTheOperationRunOnALoopThread) {
  EventLoop loop;
  std::thread::id ran_on;
  EXPECT_EQ(loop.run_blocking(answer_after_a_timer(loop, &ran_on)), 42);
  EXPECT_NE(ran_on, std::thread::id());
  EXPECT_NE(ran_on, std::this_thread::get_id());
  EXPECT_EQ(loop.run_blocking(sum_of_two(loop)), 84);
}

TEST(EventLoop, BlockingPoolStartsWorkersOnDemandAndReusesIdleOnes) {
  EventLoop loop;
  EXPECT_EQ(loop.blocking_workers(), 0u);
  for (int round = 0; round < 20; ++round) {
    std::promise<void> done;
    loop.spawn_blocking([&done] { done.set_value(); });
    done.get_future().wait();
    // The worker sets the promise before it goes back to idle.
    while (loop.idle_blocking_workers() < loop.blocking_workers()) std::this_thread::yield();
  }
  // Each piece of work came when the last one's worker was idle again, so one
  // worker served all.
  EXPECT_EQ(loop.blocking_workers(), 1u);
}

TEST(EventLoop, BlockingPoolStopsGrowingAtItsLimitAndQueuesTheRest) {
  constexpr std::size_t kWork = EventLoop::kMaxBlockingWorkers + 40;
  EventLoop loop;
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t running = 0, finished = 0;
  bool release = false;
  for (std::size_t i = 0; i < kWork; ++i) {
    loop.spawn_blocking([&] {
      std::unique_lock lock(mutex);
      ++running;
      changed.notify_all();
      changed.wait(lock, [&] { return release; });
      ++finished;
      changed.notify_all();
    });
  }
  std::unique_lock lock(mutex);
  changed.wait(lock, [&] { return running == EventLoop::kMaxBlockingWorkers; });
  EXPECT_EQ(loop.blocking_workers(), EventLoop::kMaxBlockingWorkers);
  release = true;
  changed.notify_all();
  changed.wait(lock, [&] { return finished == kWork; });
  EXPECT_EQ(loop.blocking_workers(), EventLoop::kMaxBlockingWorkers);
}

TEST(EventLoop, ShutdownJoinsEveryThreadAndIsIdempotent) {
  std::atomic<int> ran{0};
  {
    EventLoop loop;
    for (int i = 0; i < 4; ++i) loop.spawn_blocking([&ran] { ++ran; });
    loop.shutdown();
    loop.shutdown();
  }  // the destructor shuts down once more; nothing may hang or crash
  EXPECT_LE(ran.load(), 4);
}

// An exception that left a thread of the loop would end the process in the
// middle of a rollback; the loop drops it and goes on serving.
TEST(EventLoop, AHandlerThatThrowsLeavesTheLoopServing) {
  EventLoop loop;
  for (std::size_t i = 0; i < 2 * EventLoop::kWorkerThreads; ++i) {
    asio::post(loop.executor(), [] { throw std::bad_alloc(); });
  }
  std::thread::id ignored;
  EXPECT_EQ(loop.run_blocking(answer_after_a_timer(loop, &ignored)), 42);
}

TEST(EventLoop, BlockingWorkThatThrowsLeavesItsWorkerServing) {
  EventLoop loop;
  std::atomic<bool> threw{false};
  EXPECT_TRUE(loop.spawn_blocking([&threw] {
    threw = true;
    throw std::bad_alloc();
  }));
  // Once idle again, the worker that threw is the one to take the next work.
  while (!threw || loop.idle_blocking_workers() < 1) std::this_thread::yield();
  std::promise<void> done;
  auto finished = done.get_future();
  EXPECT_TRUE(loop.spawn_blocking([&done] { done.set_value(); }));
  ASSERT_EQ(finished.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(loop.blocking_workers(), 1u);  // the same worker, still there
}

TEST(EventLoop, WorkHandedOverAfterShutdownIsRefused) {
  EventLoop loop;
  loop.shutdown();
  bool ran = false;
  EXPECT_FALSE(loop.spawn_blocking([&ran] { ran = true; }));
  EXPECT_FALSE(ran);
  EXPECT_EQ(loop.blocking_workers(), 0u);
}

}  // namespace
}  // namespace nuv
