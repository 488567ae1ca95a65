// Asio first: its winsock2.h must precede any windows.h built without
// WIN32_LEAN_AND_MEAN, which would pull in the older winsock.h.
#include <asio/async_result.hpp>
#include <asio/post.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>

#include "platform/process/child_run_win.h"

#include <utility>

#include "common/win32.h"
#include "platform/process/duration_text.h"

namespace nuv {

ChildRun::ChildRun(EventLoop& loop, StartedChild child, CommandLimits limits)
    : loop_(loop),
      limits_(limits),
      process_(std::move(child.process)),
      thread_(std::move(child.thread)),
      readers_{PipeReader(std::move(child.stdout_read)), PipeReader(std::move(child.stderr_read))},
      limit_timer_(loop.executor()),
      decision_latch_(loop.executor(), asio::steady_timer::time_point::max()) {}

void ChildRun::start() noexcept {
  auto self = shared_from_this();
  for (int stream = 0; stream < 2; ++stream) {
    bool handed_over = false;
    try {
      handed_over = loop_.spawn_blocking([self, stream] {
        auto outcome = self->readers_[stream].read_to_end();
        self->on_reader_done(stream, outcome);
      });
    } catch (...) {
      // The work could not even be wrapped: memory ran out.
    }
    if (!handed_over) on_reader_done(stream, unexpected(OsError{kOutOfMemoryError}));
  }
  std::lock_guard lock(mutex_);
  arm_limit_locked(limits_.exit_deadline, &ChildRun::on_deadline);
  if (::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0) {
    record_exit_locked();
  } else {
    HANDLE wait = nullptr;
    if (::RegisterWaitForSingleObject(&wait, process_.get(), &ChildRun::exit_signalled, this,
                                      INFINITE, WT_EXECUTEINWAITTHREAD | WT_EXECUTEONLYONCE)) {
      exit_wait_.reset(wait);
    } else {
      const DWORD error = ::GetLastError();
      fail_locked(LaunchErrorKind::kOsError, error);
    }
  }
  decide_if_done_locked();
}

asio::awaitable<void> ChildRun::until_decided() {
  asio::error_code ignored;  // the latch trips by cancellation as often as by expiry
  auto token = asio::redirect_error(asio::use_awaitable, ignored);
  co_await asio::async_initiate<decltype(token), void(asio::error_code)>(
      [this](auto handler) {
        std::lock_guard lock(mutex_);
        decision_latch_.async_wait(std::move(handler));
      },
      token);
}

void ChildRun::abandon() noexcept {
  std::lock_guard lock(mutex_);
  fail_locked(LaunchErrorKind::kOsError, kOutOfMemoryError);
}

Result<CommandOutput, LaunchError> ChildRun::finish() {
  exit_wait_.reset();  // waits for a callback already running
  std::lock_guard lock(mutex_);
  process_.reset();
  thread_.reset();
  readers_[0].close();
  readers_[1].close();
  if (failure_) {
    if (failure_->kind == LaunchErrorKind::kTimedOut) {
      return unexpected(LaunchError::timed_out("timed out: the program had not exited after " +
                                               describe_duration(limits_.exit_deadline)));
    }
    return unexpected(LaunchError::from_os(failure_->code));
  }
  return CommandOutput{exit_code_,
                       readers_[0].take(),
                       readers_[1].take(),
                       readers_[0].dropped(),
                       readers_[1].dropped(),
                       {}};
}

void CALLBACK ChildRun::exit_signalled(void* context, BOOLEAN) {
  auto* self = static_cast<ChildRun*>(context);
  std::weak_ptr<ChildRun> weak = self->weak_from_this();
  // Only a wake-up: the exit code is read on the loop.
  try {
    asio::post(self->loop_.executor(), [weak] {
      if (auto alive = weak.lock()) alive->on_exit_signalled();
    });
  } catch (...) {
    // No memory for the hand-over: the exit is recorded here, on the
    // system's wait thread, rather than lost.
    if (auto alive = weak.lock()) alive->on_exit_signalled();
  }
}

void ChildRun::on_exit_signalled() noexcept {
  std::lock_guard lock(mutex_);
  if (decided_) return;
  record_exit_locked();
  decide_if_done_locked();
}

void ChildRun::record_exit_locked() noexcept {
  // Only a failed call sets the last error: a wait that merely timed out
  // leaves whatever an earlier call put there, so it reports its own value.
  const DWORD waited = ::WaitForSingleObject(process_.get(), 0);
  if (waited != WAIT_OBJECT_0) {
    const DWORD error = waited == WAIT_FAILED ? ::GetLastError() : waited;
    fail_locked(LaunchErrorKind::kOsError, error);
    return;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process_.get(), &code)) {
    const DWORD error = ::GetLastError();
    fail_locked(LaunchErrorKind::kOsError, error);
    return;
  }
  exited_ = true;
  exit_code_ = code;
  if (!giving_up_) arm_limit_locked(limits_.grace_period, &ChildRun::on_grace_over);
}

void ChildRun::on_reader_done(int stream, Result<void, OsError> outcome) noexcept {
  std::lock_guard lock(mutex_);
  reader_done_[stream] = true;
  if (!outcome && !giving_up_) fail_locked(LaunchErrorKind::kOsError, outcome.error().code);
  decide_if_done_locked();
}

void ChildRun::on_deadline() noexcept {
  std::lock_guard lock(mutex_);
  if (decided_ || exited_ || giving_up_) return;
  fail_locked(LaunchErrorKind::kTimedOut, 0);
  decide_if_done_locked();
}

void ChildRun::on_grace_over() noexcept {
  std::lock_guard lock(mutex_);
  if (decided_ || giving_up_) return;
  give_up_locked();  // a process that inherited the pipes keeps them open
  decide_if_done_locked();
}

void ChildRun::arm_limit_locked(std::chrono::milliseconds after,
                                void (ChildRun::*handler)()) noexcept {
  try {
    limit_timer_.expires_after(after);  // drops the wait armed before
    limit_timer_.async_wait([weak = weak_from_this(), handler](const asio::error_code& error) {
      if (error) return;
      if (auto alive = weak.lock()) (alive.get()->*handler)();
    });
  } catch (...) {
    // Without its timer a limit could never end the run: end it now.
    fail_locked(LaunchErrorKind::kOsError, kOutOfMemoryError);
  }
}

void ChildRun::fail_locked(LaunchErrorKind kind, std::uint32_t code) noexcept {
  if (!failure_) failure_ = Failure{kind, code};
  give_up_locked();
}

void ChildRun::give_up_locked() noexcept {
  giving_up_ = true;
  for (int stream = 0; stream < 2; ++stream) {
    if (!reader_done_[stream]) readers_[stream].cancel();
  }
}

void ChildRun::decide_if_done_locked() noexcept {
  if (decided_ || !reader_done_[0] || !reader_done_[1]) return;
  if (!exited_ && !failure_) return;
  decided_ = true;
  try {
    limit_timer_.cancel();
    decision_latch_.expires_at(asio::steady_timer::time_point::min());  // trips the latch
  } catch (...) {
    // Cancelling frees and allocates nothing; this would be a fault of Asio.
  }
}

Result<std::shared_ptr<ChildRun>, OsError> make_child_run(EventLoop& loop, StartedChild child,
                                                          CommandLimits limits) noexcept {
  try {
    return std::make_shared<ChildRun>(loop, std::move(child), limits);
  } catch (...) {
    return unexpected(OsError{kOutOfMemoryError});
  }
}

}  // namespace nuv
