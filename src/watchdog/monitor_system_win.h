// The monitor's seams on the real system.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "watchdog/monitor.h"

namespace nuv {

// The performance counter, in nanoseconds.
std::chrono::nanoseconds performance_counter_now();

// Opens the process for SYNCHRONIZE only, waits on it with a time-out of 0 and
// closes the handle again; no handle is held between polls.
bool parent_process_running(std::uint32_t pid);

// Present when the file system can report the path's metadata; a directory
// counts.
bool flag_file_present(const std::string& path);

// Deletes a file, clearing its read-only attribute when that is what stops the
// deletion. Failures are ignored.
void delete_flag_file(const std::string& path);

// Real seams; the sleep uses one high-resolution waitable timer for the whole
// run where the system has them, else Sleep.
MonitorSeams system_monitor_seams();

}  // namespace nuv
