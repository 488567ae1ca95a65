// The parent monitor: watches the parent until it is gone or the lifetime
// runs out, then tells an orderly shutdown from a crash.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "watchdog/command_line.h"
#include "watchdog/message_sink.h"

namespace nuv {

inline constexpr std::chrono::milliseconds kPollInterval{2000};
inline constexpr std::chrono::seconds kMaxLifetime{86'400};
inline constexpr std::chrono::milliseconds kSettleDelay{500};

// What opening the parent once, at the start, found.
enum class ParentOpening {
  kHeld,        // its handle is kept for the whole run, so its id cannot be reused
  kGone,        // no such process (process id 0 too)
  kUnopenable,  // it exists but cannot be opened (access denied, no resources)
};

// What the monitor asks of the system. The program passes the real ones; a
// test passes fakes, so that a day of monitoring takes no time.
struct MonitorSystem {
  // A monotonic clock; only differences between two readings matter.
  std::function<std::chrono::nanoseconds()> monotonic_now;
  std::function<void(std::chrono::milliseconds)> sleep;
  // Opens the parent for SYNCHRONIZE only, not inheritable, and keeps it.
  std::function<ParentOpening(std::uint32_t)> open_parent;
  // Waits on the held parent for up to the time-out; false as soon as it has
  // ended (or the wait failed), true when the time-out passed first.
  std::function<bool(std::chrono::milliseconds)> wait_for_parent;
  // For a parent that could not be held: opens it by id, waits on it with a
  // time-out of 0 and closes it again. False only when no such process
  // exists or it has ended; any other failure to open means it still runs.
  std::function<bool(std::uint32_t)> parent_running;
  std::function<bool(const std::string&)> flag_present;
  // Deletes the flag file, read-only or not. A failure leaves the exit code
  // as it is; its system text is logged, since a flag that stays would make
  // the next session's crash look like an orderly end. A flag already gone
  // counts as deleted.
  std::function<Result<void, std::string>(const std::string&)> delete_flag;
  // Raises the monitoring marker as monitoring begins, and lowers it once the
  // parent is found gone, so that a recovery on request is refused only
  // while a client is watched. Not set: no marker.
  std::function<void()> raise_monitoring_marker;
  std::function<void()> lower_monitoring_marker;
  // Raised once the parent is found gone, before the monitoring marker is
  // lowered, and kept until the journal's lock is held or the run ends: from
  // the parent's end on, something always shows that the journal may be
  // about to be recovered. Not set: no marker.
  std::function<void()> raise_pending_marker;
  // Detail lines for the log. Not set: none are written, and nothing is
  // looked at only to be logged.
  std::function<void(std::string_view)> log;
};

using RecoveryHook = std::function<void()>;

// Monitors the parent and returns the exit code.
int run_watchdog(const WatchdogArguments& arguments, const MonitorSystem& system, MessageSink& sink,
                 const RecoveryHook& recovery);

// The monitoring form after the command line has been split: the two
// arguments are checked, then the parent is monitored. A refusal of the
// arguments goes to `usage_sink` alone, every later line to `sink`. Returns
// the exit code. The program itself dispatches every form from
// parse_invocation and calls run_watchdog for this one.
int watchdog_main(const std::vector<std::u16string>& arguments, const MonitorSystem& system,
                  MessageSink& usage_sink, MessageSink& sink, const RecoveryHook& recovery);

}  // namespace nuv
