// Asio first: its winsock2.h must precede any windows.h built without
// WIN32_LEAN_AND_MEAN, which would pull in the older winsock.h.
#include <asio/async_result.hpp>
#include <asio/post.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "platform/process/command_runner.h"

#include <memory>
#include <mutex>
#include <optional>

#include "common/win32.h"
#include "common/unique_handle.h"
#include "platform/process/command_line.h"
#include "platform/process/nt_pipe_win.h"
#include "platform/process/os_error.h"
#include "platform/process/program_search_system_win.h"

namespace nuv {
namespace {

// Held from the preparation of a child's inheritable handles until they are
// closed again, so that no other child started at the same moment inherits
// them.
std::mutex& process_creation_lock() {
  static std::mutex lock;
  return lock;
}

LaunchError last_os_error() {
  const DWORD code = ::GetLastError();
  return LaunchError::os_error(code, os_error_text(code));
}

struct Child {
  UniqueHandle process;
  UniqueHandle thread;
  UniqueHandle stdout_read;
  UniqueHandle stderr_read;
};

struct Launch {
  std::u16string application;
  std::u16string command_line;
};

Result<Launch, LaunchError> prepare_launch(const CommandRequest& request) {
  SystemProgramSearch system;
  auto resolved = resolve_program(request.program, system);
  if (!resolved) return unexpected(std::move(resolved).error());
  auto batch = is_batch_program(*resolved, system);
  if (!batch) return unexpected(std::move(batch).error());
  if (*batch) {
    auto launch = build_batch_command_line(*resolved, request.args, system);
    if (!launch) return unexpected(std::move(launch).error());
    return Launch{std::move(launch->application), std::move(launch->command_line)};
  }
  auto line = build_command_line(request.program, request.args);
  if (!line) return unexpected(std::move(line).error());
  return Launch{std::move(*resolved), std::move(*line)};
}

// The watchdog's own standard input, as an inheritable duplicate; none when
// the watchdog has none.
Result<UniqueHandle, LaunchError> duplicate_standard_input() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return UniqueHandle();
  HANDLE duplicate = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), input, ::GetCurrentProcess(), &duplicate, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return unexpected(last_os_error());
  }
  return UniqueHandle(duplicate);
}

Result<Child, LaunchError> start_child(const CommandRequest& request) {
  auto launch = prepare_launch(request);
  if (!launch) return unexpected(std::move(launch).error());
  const auto application = to_system_path(launch->application);
  if (!application) return unexpected(LaunchError::invalid_input(kNulInPathText));
  // CreateProcessW may write into the command line, so it gets a copy.
  std::vector<wchar_t> line(launch->command_line.begin(), launch->command_line.end());
  line.push_back(L'\0');

  std::lock_guard creating(process_creation_lock());
  auto input = duplicate_standard_input();
  if (!input) return unexpected(std::move(input).error());
  auto root = open_pipe_root();
  if (!root) return unexpected(std::move(root).error());
  auto out = create_output_pipe(root->get());
  if (!out) return unexpected(std::move(out).error());
  auto err = create_output_pipe(root->get());
  if (!err) return unexpected(std::move(err).error());

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input->get();
  startup.hStdOutput = out->child.get();
  startup.hStdError = err->child.get();
  PROCESS_INFORMATION info{};
  const BOOL created = ::CreateProcessW(application->c_str(), line.data(), nullptr, nullptr, TRUE,
                                        process_creation_flags(request.creation_flags), nullptr,
                                        nullptr, &startup, &info);
  const DWORD error = ::GetLastError();
  // The child has its copies now; ours must go, or the pipes never reach
  // their end.
  input->reset();
  out->child.reset();
  err->child.reset();
  if (!created) return unexpected(LaunchError::os_error(error, os_error_text(error)));
  return Child{UniqueHandle(info.hProcess), UniqueHandle(info.hThread), std::move(out->ours),
               std::move(err->ours)};
}

// Watches one started child: its exit through a wait registration, its two
// pipes through readers on the blocking workers, and the two limits through
// a timer. Every event may come from another thread; all of them meet under
// one mutex, and the run is decided once:
//   - the child has exited and both pipes have ended: its output;
//   - something failed, or the deadline passed: that failure, once the
//     readers have been cancelled and have returned;
//   - the grace period after the exit ran out: the output so far, likewise.
class Collection : public std::enable_shared_from_this<Collection> {
 public:
  Collection(EventLoop& loop, Child child, CommandLimits limits)
      : loop_(loop),
        limits_(limits),
        process_(std::move(child.process)),
        thread_(std::move(child.thread)),
        readers_{PipeReader(std::move(child.stdout_read)),
                 PipeReader(std::move(child.stderr_read))},
        limit_timer_(loop.executor()),
        decided_(loop.executor(), asio::steady_timer::time_point::max()) {}

  void start() {
    auto self = shared_from_this();
    for (int stream = 0; stream < 2; ++stream) {
      loop_.spawn_blocking([self, stream] {
        const std::uint32_t error = self->readers_[stream].read_to_end();
        self->on_reader_done(stream, error);
      });
    }
    std::lock_guard lock(mutex_);
    arm_limit_locked(limits_.exit_deadline, &Collection::on_deadline);
    if (::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0) {
      record_exit_locked();
    } else {
      HANDLE wait = nullptr;
      if (::RegisterWaitForSingleObject(&wait, process_.get(), &Collection::exit_signalled, this,
                                        INFINITE, WT_EXECUTEINWAITTHREAD | WT_EXECUTEONLYONCE)) {
        exit_wait_.reset(wait);
      } else {
        fail_locked(last_os_error());
      }
    }
    decide_if_done_locked();
  }

  asio::awaitable<void> until_decided() {
    asio::error_code ignored;  // the latch trips by cancellation as often as by expiry
    auto token = asio::redirect_error(asio::use_awaitable, ignored);
    co_await asio::async_initiate<decltype(token), void(asio::error_code)>(
        [this](auto handler) {
          std::lock_guard lock(mutex_);
          decided_.async_wait(std::move(handler));
        },
        token);
  }

  // Releases everything and hands over the outcome. Only once decided.
  Result<CommandOutput, LaunchError> finish() {
    exit_wait_.reset();  // waits for a callback already running
    std::lock_guard lock(mutex_);
    process_.reset();
    thread_.reset();
    readers_[0].close();
    readers_[1].close();
    if (failure_) return unexpected(std::move(*failure_));
    return CommandOutput{exit_code_, readers_[0].take(), readers_[1].take()};
  }

 private:
  static void CALLBACK exit_signalled(void* context, BOOLEAN) {
    auto* self = static_cast<Collection*>(context);
    // Only a wake-up: the exit code is read on the loop.
    asio::post(self->loop_.executor(), [weak = self->weak_from_this()] {
      if (auto alive = weak.lock()) alive->on_exit_signalled();
    });
  }

  void on_exit_signalled() {
    std::lock_guard lock(mutex_);
    if (decided_flag_) return;
    record_exit_locked();
    decide_if_done_locked();
  }

  void record_exit_locked() {
    DWORD code = 0;
    if (::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process_.get(), &code)) {
      fail_locked(last_os_error());
      return;
    }
    exited_ = true;
    exit_code_ = code;
    if (!giving_up_) arm_limit_locked(limits_.grace_period, &Collection::on_grace_over);
  }

  void on_reader_done(int stream, std::uint32_t error) {
    std::lock_guard lock(mutex_);
    reader_done_[stream] = true;
    if (error != 0 && !giving_up_) fail_locked(LaunchError::os_error(error, os_error_text(error)));
    decide_if_done_locked();
  }

  void on_deadline() {
    std::lock_guard lock(mutex_);
    if (decided_flag_ || exited_ || giving_up_) return;
    fail_locked(LaunchError::timed_out("timed out: the program had not exited after " +
                                       describe_duration(limits_.exit_deadline)));
    decide_if_done_locked();
  }

  void on_grace_over() {
    std::lock_guard lock(mutex_);
    if (decided_flag_ || giving_up_) return;
    give_up_locked();  // a process that inherited the pipes keeps them open
    decide_if_done_locked();
  }

  void arm_limit_locked(std::chrono::milliseconds after, void (Collection::*handler)()) {
    limit_timer_.expires_after(after);  // drops the wait armed before
    limit_timer_.async_wait([weak = weak_from_this(), handler](const asio::error_code& error) {
      if (error) return;
      if (auto alive = weak.lock()) (alive.get()->*handler)();
    });
  }

  void fail_locked(LaunchError error) {
    if (!failure_) failure_ = std::move(error);
    give_up_locked();
  }

  void give_up_locked() {
    giving_up_ = true;
    for (int stream = 0; stream < 2; ++stream) {
      if (!reader_done_[stream]) readers_[stream].cancel();
    }
  }

  void decide_if_done_locked() {
    if (decided_flag_ || !reader_done_[0] || !reader_done_[1]) return;
    if (!exited_ && !failure_) return;
    decided_flag_ = true;
    limit_timer_.cancel();
    decided_.expires_at(asio::steady_timer::time_point::min());  // trips the latch
  }

  EventLoop& loop_;
  const CommandLimits limits_;
  UniqueHandle process_;
  UniqueHandle thread_;
  PipeReader readers_[2];
  UniqueWaitRegistration exit_wait_;

  std::mutex mutex_;  // guards all below, the two timers included
  asio::steady_timer limit_timer_;
  asio::steady_timer decided_;  // a latch: expires once the run is decided
  bool exited_ = false;
  std::uint32_t exit_code_ = 0;
  bool reader_done_[2] = {false, false};
  std::optional<LaunchError> failure_;
  bool giving_up_ = false;
  bool decided_flag_ = false;
};

}  // namespace

asio::awaitable<Result<CommandOutput, LaunchError>> run_command(
    EventLoop& loop,
    CommandRequest request,  // cppcheck-suppress passedByValue ; a coroutine owns its arguments
    CommandLimits limits) {
  auto child = start_child(request);
  if (!child) co_return unexpected(std::move(child).error());
  auto collection = std::make_shared<Collection>(loop, std::move(*child), limits);
  collection->start();
  co_await collection->until_decided();
  co_return collection->finish();
}

}  // namespace nuv
