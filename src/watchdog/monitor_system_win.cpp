#include "watchdog/monitor_system_win.h"

#include <memory>
#include <utility>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/unique_handle_win.h"
#include "common/wide.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace nuv {
namespace {

class Sleeper {
 public:
  Sleeper()
      : timer_(::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                        TIMER_MODIFY_STATE | SYNCHRONIZE)) {}

  void sleep(std::chrono::milliseconds duration) {
    if (timer_) {
      LARGE_INTEGER due;
      // Negative: relative to now, in units of 100 ns.
      due.QuadPart = -static_cast<LONGLONG>(duration.count()) * 10'000;
      if (::SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE) &&
          ::WaitForSingleObject(timer_.get(), INFINITE) == WAIT_OBJECT_0) {
        return;
      }
    }
    ::Sleep(static_cast<DWORD>(duration.count()));
  }

 private:
  UniqueHandle timer_;
};

}  // namespace

std::chrono::nanoseconds performance_counter_now() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  // Whole seconds and the remainder apart, so that the product cannot overflow.
  const LONGLONG seconds = counter.QuadPart / frequency;
  const LONGLONG rest = counter.QuadPart % frequency;
  return std::chrono::seconds(seconds) + std::chrono::nanoseconds(rest * 1'000'000'000 / frequency);
}

ProcessOpening open_process_for_synchronize(std::uint32_t pid) {
  UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process) return unexpected(OsError{::GetLastError()});
  return process;
}

ParentOpening open_parent_process(std::uint32_t pid, UniqueHandle& held,
                                  const OpenProcessCall& open) {
  ProcessOpening opening = open(pid);
  if (opening) {
    held = std::move(*opening);
    return ParentOpening::kHeld;
  }
  held.reset();
  // Only this code says that no process has the id; a denial or a shortage
  // says nothing about whether the parent is alive.
  return opening.error().code == ERROR_INVALID_PARAMETER ? ParentOpening::kGone
                                                         : ParentOpening::kUnopenable;
}

bool wait_for_process(HANDLE process, std::chrono::milliseconds timeout) {
  return ::WaitForSingleObject(process, static_cast<DWORD>(timeout.count())) == WAIT_TIMEOUT;
}

bool parent_process_running(std::uint32_t pid, const OpenProcessCall& open) {
  UniqueHandle process;
  switch (open_parent_process(pid, process, open)) {
    case ParentOpening::kHeld:
      return wait_for_process(process.get(), std::chrono::milliseconds::zero());
    case ParentOpening::kGone:
      return false;
    case ParentOpening::kUnopenable:
      break;
  }
  return true;  // it exists: only its handle is refused
}

bool flag_file_present(const std::string& path) {
  const auto wide = to_wide(path);
  if (!wide) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  return ::GetFileAttributesExW(wide->c_str(), GetFileExInfoStandard, &data) != 0;
}

Result<void, std::string> delete_flag_file(const std::string& path) {
  const auto wide = to_wide(path);
  if (!wide) return unexpected(std::string("the path cannot be given to the system"));
  if (::DeleteFileW(wide->c_str())) return {};
  const auto refused = [](DWORD code) -> Result<void, std::string> {
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return {};  // gone already
    return unexpected(os_error_text(code));
  };
  const DWORD refusal = ::GetLastError();

  const DWORD attributes = ::GetFileAttributesW(wide->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !(attributes & FILE_ATTRIBUTE_READONLY)) {
    return refused(refusal);
  }
  DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (writable == 0) writable = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileAttributesW(wide->c_str(), writable)) return refused(::GetLastError());
  if (::DeleteFileW(wide->c_str())) return {};
  const DWORD second = ::GetLastError();
  ::SetFileAttributesW(wide->c_str(), attributes);
  return refused(second);
}

MonitorSystem windows_monitor_system(OpenProcessCall open) {
  auto sleeper = std::make_shared<Sleeper>();
  auto parent = std::make_shared<UniqueHandle>();
  return MonitorSystem{
      .monotonic_now = performance_counter_now,
      .sleep = [sleeper](std::chrono::milliseconds d) { sleeper->sleep(d); },
      .open_parent = [parent,
                      open](std::uint32_t pid) { return open_parent_process(pid, *parent, open); },
      .wait_for_parent =
          [parent](std::chrono::milliseconds timeout) {
            return wait_for_process(parent->get(), timeout);
          },
      .parent_running = [open](std::uint32_t pid) { return parent_process_running(pid, open); },
      .flag_present = flag_file_present,
      .delete_flag = delete_flag_file,
      // Set by the program, which knows the journal and the log.
      .raise_monitoring_marker = {},
      .lower_monitoring_marker = {},
      .raise_pending_marker = {},
      .log = {},
  };
}

}  // namespace nuv
