// Watching one started child to the end of its run: its exit through a wait
// registration, its two pipes through readers on the blocking workers, and
// the two limits of CommandLimits through a timer.
//
// Every event may come from another thread; all of them meet under one mutex,
// and the run is decided once:
//   - the child has exited and both pipes have ended: its output;
//   - something failed, or the deadline passed: that failure, once the
//     readers have been cancelled and have returned;
//   - the grace period after the exit ran out: the output so far, likewise.
// Nothing here throws out of a callback: those run on the loop's threads, a
// blocking worker or the system's wait thread, where nobody could catch. A
// failure is recorded as a kind and a code, which need no memory, and turned
// into its message by finish().
#pragma once

// Asio first: its winsock2.h must precede any windows.h built without
// WIN32_LEAN_AND_MEAN, which would pull in the older winsock.h.
#include <asio/awaitable.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "common/os_error.h"
#include "common/result.h"
#include "common/unique_handle_win.h"
#include "platform/process/child_start_win.h"
#include "platform/process/command.h"
#include "platform/process/command_runner.h"
#include "platform/process/launch_error.h"
#include "platform/process/pipe_reader_win.h"
#include "platform/runtime/event_loop.h"

namespace nuv {

class ChildRun : public std::enable_shared_from_this<ChildRun> {
 public:
  ChildRun(EventLoop& loop, StartedChild child, CommandLimits limits);

  // Hands both pipes to blocking workers and starts waiting for the exit.
  void start() noexcept;

  // Completes once the run is decided.
  asio::awaitable<void> until_decided();

  // For a run that can no longer wait for its decision (memory ran out while
  // it set up the wait): the readers are cancelled, and the last of them to
  // return releases everything.
  void abandon() noexcept;

  // Releases everything and hands over the outcome. Only once decided.
  Result<CommandOutput, LaunchError> finish();

 private:
  struct Failure {
    LaunchErrorKind kind;
    std::uint32_t code;
  };

  static void CALLBACK exit_signalled(void* context, BOOLEAN);
  void on_exit_signalled() noexcept;
  void record_exit_locked() noexcept;
  void on_reader_done(int stream, Result<void, OsError> outcome) noexcept;
  void on_deadline() noexcept;
  void on_grace_over() noexcept;
  void arm_limit_locked(std::chrono::milliseconds after, void (ChildRun::*handler)()) noexcept;
  void fail_locked(LaunchErrorKind kind, std::uint32_t code) noexcept;
  void give_up_locked() noexcept;
  void decide_if_done_locked() noexcept;

  EventLoop& loop_;
  const CommandLimits limits_;
  UniqueHandle process_;
  UniqueHandle thread_;
  PipeReader readers_[2];
  UniqueWaitRegistration exit_wait_;

  std::mutex mutex_;  // guards all below, the two timers included
  asio::steady_timer limit_timer_;
  asio::steady_timer decision_latch_;  // a latch: expires once the run is decided
  bool exited_ = false;
  std::uint32_t exit_code_ = 0;
  bool reader_done_[2] = {false, false};
  std::optional<Failure> failure_;
  bool giving_up_ = false;
  bool decided_ = false;
};

// Fails with kOutOfMemoryError when the run cannot be made; the child then
// runs on without us, its handles closed with `child`.
Result<std::shared_ptr<ChildRun>, OsError> make_child_run(EventLoop& loop, StartedChild child,
                                                          CommandLimits limits) noexcept;

}  // namespace nuv
