#include "watchdog/recovery_on_request_win.h"

#include <chrono>
#include <string>

#include "common/win32.h"
#include "common/environment_win.h"
#include "common/os_error.h"
#include "platform/wintun/orphan_cleanup_win.h"
#include "state/journal_lock_win.h"
#include "state/state_files_win.h"
#include "watchdog/monitoring_marker_win.h"
#include "watchdog/system_state_recovery_win.h"

namespace nuv {

namespace {

// Before the request may run: a doubt counts as a marker there, since
// undoing a live session's network is worse than a refusal. Its reason goes
// to the log.
bool marker_there(MarkerKind kind, const std::string& state_path, Log& details) {
  const auto found = find_marker(kind, state_path);
  if (found) return *found;
  details.write(std::string(marker_text(kind)) +
                " could not be looked for, so it counts as there: " + found.error());
  return true;
}

}  // namespace

RecoveryOnRequestSystem windows_recovery_on_request_system(Log& details,
                                                           ChildStandardInput& standard_input) {
  const auto state_path = []() -> std::optional<std::string> {
    const auto appdata = environment_variable(L"APPDATA");
    if (!appdata) return std::nullopt;
    return state_paths(*appdata).state;
  };
  return RecoveryOnRequestSystem{
      .state_path = state_path,
      .watchdog_monitors =
          [&details](const std::string& path) {
            return marker_there(MarkerKind::kMonitoring, path, details);
          },
      .recovery_pending =
          [&details](const std::string& path) {
            return marker_there(MarkerKind::kPending, path, details);
          },
      .lock_journal =
          [&details](const std::string& path, std::chrono::milliseconds limit) {
            auto lock = lock_journal_within(path, limit);
            if (lock && lock->abandoned()) details.write(abandoned_lock_text(path));
            // The refusal says "still running" either way; the log keeps
            // the system's reason when it was not the time running out.
            if (!lock && lock.error().code != WAIT_TIMEOUT) {
              details.write("journal lock not had: " + os_error_text(lock.error().code));
            }
            return lock;
          },
      .clean_wintun_orphans = [&details] { return clean_wintun_orphans(details); },
      .recover_journal =
          [&details, &standard_input] {
            return recover_journal_holding_its_lock(details, &standard_input);
          },
      .journal_has_records =
          [state_path] {
            const auto path = state_path();
            if (!path) return false;
            const auto loaded = load_journal(windows_state_files(), *path);
            if (loaded) return !loaded->changes.empty();
            // Gone, or at least not readable as a journal with records.
            return loaded.error().why != NothingToRecover::kNoJournal;
          },
      .out_of_memory = out_of_memory_report(details),
  };
}

}  // namespace nuv
