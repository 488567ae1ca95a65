// The monitor's system: the clock, the sleep, the parent and the flag, for real.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "common/os_error.h"
#include "common/result.h"
#include "common/unique_handle_win.h"
#include "watchdog/monitor.h"

namespace nuv {

// The performance counter, in nanoseconds.
std::chrono::nanoseconds performance_counter_now();

// What one OpenProcess call answered: the handle, or the error code that says
// why there is none.
using ProcessOpening = Result<UniqueHandle, OsError>;

// The OpenProcess call, a seam: the system's refusals (a denial, a
// shortage of quota or resources) cannot be had on demand in a test.
using OpenProcessCall = std::function<ProcessOpening(std::uint32_t pid)>;

// Opens the process by id for SYNCHRONIZE only, not inheritable.
ProcessOpening open_process_for_synchronize(std::uint32_t pid);

// Opens the process for SYNCHRONIZE only, not inheritable, into `held`.
// Gone only when no process has the id (ERROR_INVALID_PARAMETER).
ParentOpening open_parent_process(std::uint32_t pid, UniqueHandle& held,
                                  const OpenProcessCall& open = open_process_for_synchronize);

// Waits on the process for up to `timeout`; true when it still runs then.
bool wait_for_process(HANDLE process, std::chrono::milliseconds timeout);

// Opens the process by id for SYNCHRONIZE only, waits on it with a time-out
// of 0 and closes the handle again. False only when no process has the id or
// it has ended; a failure to open it for another reason means it runs.
bool parent_process_running(std::uint32_t pid,
                            const OpenProcessCall& open = open_process_for_synchronize);

// Present when the file system can report the path's metadata; a directory
// counts.
bool flag_file_present(const std::string& path);

// Deletes a file, clearing its read-only attribute when that is what stops the
// deletion. A file that is not there counts as deleted; any other failure
// gives the system's text of the last refusal.
Result<void, std::string> delete_flag_file(const std::string& path);

// The real system; the sleep uses one high-resolution waitable timer for the whole
// run where the system has them, else Sleep.
// `open` is the OpenProcess call behind both ways of watching the parent.
MonitorSystem windows_monitor_system(OpenProcessCall open = open_process_for_synchronize);

}  // namespace nuv
