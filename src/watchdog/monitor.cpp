#include "watchdog/monitor.h"

#include "common/list_notation.h"
#include "watchdog/exit_codes.h"
#include "watchdog/messages.h"

namespace nuv {

int run_watchdog(const WatchdogArguments& arguments, const MonitorSystem& system, MessageSink& sink,
                 const RecoveryHook& recovery) {
  // Held from the start: a handle keeps the parent's id from being reused by
  // another process after the parent's death, and its wait ends the moment
  // the parent does.
  const ParentOpening opening = system.open_parent(arguments.parent_pid);
  const auto start = system.monotonic_now();
  // Raised before the line that tells the client monitoring has begun: a
  // client that reads it and then asks for a recovery must find the marker.
  if (system.raise_monitoring_marker) system.raise_monitoring_marker();
  sink.write_line(monitoring_message(arguments.parent_pid, arguments.clean_flag));
  // A flag left from an earlier session would make this session's crash
  // look like an orderly shutdown; support should see that it was there.
  if (system.log && system.flag_present(arguments.clean_flag)) {
    system.log("clean flag already present as monitoring begins: " +
               list_notation({arguments.clean_flag}));
  }

  bool gone = opening == ParentOpening::kGone;
  while (!gone) {
    const auto now = system.monotonic_now();
    const auto elapsed = now > start ? now - start : std::chrono::nanoseconds::zero();
    if (elapsed > kMaxLifetime) {
      sink.write_line(max_lifetime_message());
      return kExitClean;
    }
    if (opening == ParentOpening::kHeld) {
      gone = !system.wait_for_parent(kPollInterval);
    } else {
      gone = !system.parent_running(arguments.parent_pid);
      if (!gone) system.sleep(kPollInterval);
    }
  }

  // In this order: a relaunched client's --recover must find one marker or
  // the other at every moment, or it would run and let the client journal a
  // new session that this recovery then undoes.
  if (system.raise_pending_marker) system.raise_pending_marker();
  if (system.lower_monitoring_marker) system.lower_monitoring_marker();
  system.sleep(kSettleDelay);
  if (system.flag_present(arguments.clean_flag)) {
    sink.write_line(clean_shutdown_message());
    const auto deleted = system.delete_flag(arguments.clean_flag);
    if (!deleted && system.log) {
      system.log("clean flag could not be deleted: " + list_notation({arguments.clean_flag}) +
                 ": " + deleted.error());
    }
    return kExitClean;
  }
  sink.write_line(parent_disappeared_message(arguments.parent_pid));
  recovery();
  return kExitRecovered;
}

int watchdog_main(const std::vector<std::u16string>& arguments, const MonitorSystem& system,
                  MessageSink& usage_sink, MessageSink& sink, const RecoveryHook& recovery) {
  auto parsed = parse_command_line(arguments);
  if (!parsed) {
    usage_sink.write_line(parsed.error().message);
    return kExitUsage;
  }
  return run_watchdog(*parsed, system, sink, recovery);
}

}  // namespace nuv
