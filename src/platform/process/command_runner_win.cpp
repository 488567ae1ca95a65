// Asio first: its winsock2.h must precede any windows.h built without
// WIN32_LEAN_AND_MEAN, which would pull in the older winsock.h.
#include <asio/async_result.hpp>
#include <asio/post.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "platform/process/command_runner.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/win32.h"
#include "common/log.h"
#include "common/os_error.h"
#include "common/unique_handle_win.h"
#include "common/utf.h"
#include "platform/process/child_standard_input_win.h"
#include "platform/process/nt_pipe_win.h"
#include "platform/process/program_search_system_win.h"
#include "platform/process/windows_command_line.h"

namespace nuv {
namespace {

// Held from the preparation of a child's inheritable handles until they are
// closed again, so that no other child started at the same moment inherits
// them.
std::mutex& process_creation_lock() {
  static std::mutex lock;
  return lock;
}

// What a run that ran out of memory (or threads) ends with. Its text needs
// memory too; if even that fails, the error goes without one.
LaunchError out_of_memory() noexcept {
  try {
    return LaunchError::from_os(kOutOfMemoryError);
  } catch (...) {
    LaunchError bare;
    bare.kind = LaunchErrorKind::kOsError;
    bare.os_code = kOutOfMemoryError;
    return bare;
  }
}

// The attribute list that hands CreateProcessW the exact handles a child may
// inherit. Without it, inheritance passes on every inheritable handle of the
// watchdog, its own standard error among them, to the tool and to whatever
// the tool leaves running.
class InheritedHandleList {
 public:
  InheritedHandleList() = default;
  InheritedHandleList(const InheritedHandleList&) = delete;
  InheritedHandleList& operator=(const InheritedHandleList&) = delete;
  ~InheritedHandleList() {
    if (initialized_) ::DeleteProcThreadAttributeList(list());
  }

  // Adds a handle once; null handles are left out.
  void add(HANDLE handle) {
    if (handle == nullptr || std::find(handles_, handles_ + count_, handle) != handles_ + count_) {
      return;
    }
    handles_[count_++] = handle;
  }

  // Builds the list; 0, or the system error code. The handles must stay open
  // until the process is created.
  std::uint32_t build() {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);  // only asks for the size
    buffer_.reset(new (std::nothrow) char[size]);
    if (!buffer_) return kOutOfMemoryError;
    if (!::InitializeProcThreadAttributeList(list(), 1, 0, &size)) return ::GetLastError();
    initialized_ = true;
    if (!::UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_,
                                     count_ * sizeof(HANDLE), nullptr, nullptr)) {
      return ::GetLastError();
    }
    return 0;
  }

  LPPROC_THREAD_ATTRIBUTE_LIST list() const {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.get());
  }

 private:
  HANDLE handles_[3] = {};  // standard input, output, error
  std::size_t count_ = 0;
  std::unique_ptr<char[]> buffer_;
  bool initialized_ = false;
};

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

// The program as the search resolved it: the file started, or for a batch
// run the script that cmd.exe runs.
std::string program_text(const std::u16string& resolved) {
  return utf16_to_utf8(resolved).value_or(std::string());
}

Result<Launch, LaunchError> prepare_launch(const CommandRequest& request,
                                           std::string& program_path) {
  const ProgramSearchSystem system = windows_program_search();
  auto resolved = resolve_program(request.program, system);
  if (!resolved) return unexpected(std::move(resolved).error());
  program_path = program_text(*resolved);
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

// `program_path` gets the program as resolved, as soon as it is known.
Result<Child, LaunchError> start_child(const CommandRequest& request, ChildStandardInput& standard,
                                       std::string& program_path) {
  auto launch = prepare_launch(request, program_path);
  if (!launch) return unexpected(std::move(launch).error());
  const auto application = to_system_path(launch->application);
  if (!application) return unexpected(LaunchError::invalid_input(kNulInPathText));
  // CreateProcessW may write into the command line, so it gets a copy.
  std::vector<wchar_t> line(launch->command_line.begin(), launch->command_line.end());
  line.push_back(L'\0');

  std::lock_guard creating(process_creation_lock());
  UniqueHandle input = standard.for_child();
  auto root = open_pipe_root();
  if (!root) return unexpected(std::move(root).error());
  auto out = create_output_pipe(root->get());
  if (!out) return unexpected(std::move(out).error());
  auto err = create_output_pipe(root->get());
  if (!err) return unexpected(std::move(err).error());

  InheritedHandleList inherited;
  inherited.add(input.get());
  inherited.add(out->child.get());
  inherited.add(err->child.get());
  if (const std::uint32_t failed = inherited.build(); failed != 0) {
    return unexpected(LaunchError::from_os(failed));
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input.get();
  startup.StartupInfo.hStdOutput = out->child.get();
  startup.StartupInfo.hStdError = err->child.get();
  startup.lpAttributeList = inherited.list();
  PROCESS_INFORMATION info{};
  const BOOL created = ::CreateProcessW(
      application->c_str(), line.data(), nullptr, nullptr, TRUE,
      process_creation_flags(request.creation_flags) | EXTENDED_STARTUPINFO_PRESENT, nullptr,
      nullptr, &startup.StartupInfo, &info);
  const DWORD error = ::GetLastError();
  // The child has its copies now; ours must go, or the pipes never reach
  // their end.
  input.reset();
  out->child.reset();
  err->child.reset();
  if (!created) return unexpected(LaunchError::from_os(error));
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
// Nothing here throws out of a callback: those run on the loop's threads, a
// blocking worker or the system's wait thread, where nobody could catch. A
// failure is recorded as a kind and a code, which need no memory, and turned
// into its message by finish().
class ChildRun : public std::enable_shared_from_this<ChildRun> {
 public:
  ChildRun(EventLoop& loop, Child child, CommandLimits limits)
      : loop_(loop),
        limits_(limits),
        process_(std::move(child.process)),
        thread_(std::move(child.thread)),
        readers_{PipeReader(std::move(child.stdout_read)),
                 PipeReader(std::move(child.stderr_read))},
        limit_timer_(loop.executor()),
        decision_latch_(loop.executor(), asio::steady_timer::time_point::max()) {}

  void start() noexcept {
    auto self = shared_from_this();
    for (int stream = 0; stream < 2; ++stream) {
      bool handed_over = false;
      try {
        handed_over = loop_.spawn_blocking([self, stream] {
          const std::uint32_t error = self->readers_[stream].read_to_end();
          self->on_reader_done(stream, error);
        });
      } catch (...) {
        // The work could not even be wrapped: memory ran out.
      }
      if (!handed_over) on_reader_done(stream, kOutOfMemoryError);
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
        fail_locked(LaunchErrorKind::kOsError, ::GetLastError());
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
          decision_latch_.async_wait(std::move(handler));
        },
        token);
  }

  // For a run that can no longer wait for its decision (memory ran out while
  // it set up the wait): the readers are cancelled, and the last of them to
  // return releases everything.
  void abandon() noexcept {
    std::lock_guard lock(mutex_);
    fail_locked(LaunchErrorKind::kOsError, kOutOfMemoryError);
  }

  // Releases everything and hands over the outcome. Only once decided.
  Result<CommandOutput, LaunchError> finish() {
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

 private:
  struct Failure {
    LaunchErrorKind kind;
    std::uint32_t code;
  };

  static void CALLBACK exit_signalled(void* context, BOOLEAN) {
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

  void on_exit_signalled() noexcept {
    std::lock_guard lock(mutex_);
    if (decided_) return;
    record_exit_locked();
    decide_if_done_locked();
  }

  void record_exit_locked() noexcept {
    DWORD code = 0;
    if (::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process_.get(), &code)) {
      fail_locked(LaunchErrorKind::kOsError, ::GetLastError());
      return;
    }
    exited_ = true;
    exit_code_ = code;
    if (!giving_up_) arm_limit_locked(limits_.grace_period, &ChildRun::on_grace_over);
  }

  void on_reader_done(int stream, std::uint32_t error) noexcept {
    std::lock_guard lock(mutex_);
    reader_done_[stream] = true;
    if (error != 0 && !giving_up_) fail_locked(LaunchErrorKind::kOsError, error);
    decide_if_done_locked();
  }

  void on_deadline() noexcept {
    std::lock_guard lock(mutex_);
    if (decided_ || exited_ || giving_up_) return;
    fail_locked(LaunchErrorKind::kTimedOut, 0);
    decide_if_done_locked();
  }

  void on_grace_over() noexcept {
    std::lock_guard lock(mutex_);
    if (decided_ || giving_up_) return;
    give_up_locked();  // a process that inherited the pipes keeps them open
    decide_if_done_locked();
  }

  void arm_limit_locked(std::chrono::milliseconds after, void (ChildRun::*handler)()) noexcept {
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

  void fail_locked(LaunchErrorKind kind, std::uint32_t code) noexcept {
    if (!failure_) failure_ = Failure{kind, code};
    give_up_locked();
  }

  void give_up_locked() noexcept {
    giving_up_ = true;
    for (int stream = 0; stream < 2; ++stream) {
      if (!reader_done_[stream]) readers_[stream].cancel();
    }
  }

  void decide_if_done_locked() noexcept {
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

// Null when memory ran out; the child then runs on without us, its handles
// closed with `child`.
std::shared_ptr<ChildRun> make_child_run(EventLoop& loop, Child child,
                                         CommandLimits limits) noexcept {
  try {
    return std::make_shared<ChildRun>(loop, std::move(child), limits);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

asio::awaitable<Result<CommandOutput, LaunchError>> run_command(
    EventLoop& loop,
    CommandRequest request,  // cppcheck-suppress passedByValue ; a coroutine owns its arguments
    CommandLimits limits, ChildStandardInput* standard_input) {
  std::string program_path;
  std::optional<Result<CommandOutput, LaunchError>> outcome;
  // A caller that names no standard input gets the watchdog's own as it is
  // now, or the NUL device when that cannot be duplicated, unlogged.
  NullLog unlogged;
  ChildStandardInput as_it_is(StandardInputAtStart{}, unlogged);
  auto child = start_child(request, standard_input ? *standard_input : as_it_is, program_path);
  if (!child) {
    outcome.emplace(unexpected(std::move(child).error()));
  } else if (auto run = make_child_run(loop, std::move(*child), limits)) {
    run->start();
    bool decided = false;
    try {
      co_await run->until_decided();
      decided = true;
    } catch (...) {
      run->abandon();
    }
    if (decided) outcome.emplace(run->finish());
  }
  if (!outcome) outcome.emplace(unexpected(out_of_memory()));
  // Once the search has found the program, the outcome names it, whatever
  // became of the run.
  if (*outcome) {
    (*outcome)->program_path = std::move(program_path);
  } else {
    outcome->error().program_path = std::move(program_path);
  }
  co_return std::move(*outcome);
}

Result<CommandOutput, LaunchError> run_command_blocking(
    EventLoop& loop, const CommandRequest& request, CommandLimits limits,
    ChildStandardInput* standard_input) noexcept {
  try {
    return loop.run_blocking(run_command(loop, request, limits, standard_input));
  } catch (...) {
    // The coroutine's frame, its copy of the request, the spawn on the loop
    // and the outcome's texts all need memory.
    return unexpected(out_of_memory());
  }
}

}  // namespace nuv
