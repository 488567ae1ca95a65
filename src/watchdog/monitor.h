// The parent monitor: polls the parent until it is gone or the lifetime runs
// out, then tells an orderly shutdown from a crash.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "watchdog/command_line.h"
#include "watchdog/message_sink.h"

namespace nuv {

inline constexpr std::chrono::milliseconds kPollInterval{2000};
inline constexpr std::chrono::seconds kMaxLifetime{86'400};
inline constexpr std::chrono::milliseconds kSettleDelay{500};

// What the monitor asks of the system. The program passes the real ones; a
// test passes fakes, so that a day of polling takes no time.
struct MonitorSeams {
  // A monotonic clock; only differences between two readings matter.
  std::function<std::chrono::nanoseconds()> monotonic_now;
  std::function<void(std::chrono::milliseconds)> sleep;
  // Opens the process by id, waits on it with a time-out of 0, closes it;
  // false when it cannot be opened or has ended.
  std::function<bool(std::uint32_t)> parent_running;
  std::function<bool(const std::string&)> flag_present;
  // Deletes the flag file, read-only or not; failures are ignored.
  std::function<void(const std::string&)> delete_flag;
};

using RecoveryHook = std::function<void()>;

// Monitors the parent and returns the exit code.
int run_watchdog(const WatchdogArguments& arguments, const MonitorSeams& seams, MessageSink& sink,
                 const RecoveryHook& recovery);

// The whole program after the command line has been split: the arguments are
// checked, then the parent is monitored. Returns the exit code.
int watchdog_main(const std::vector<std::u16string>& arguments, const MonitorSeams& seams,
                  MessageSink& sink, const RecoveryHook& recovery);

}  // namespace nuv
