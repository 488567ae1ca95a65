#include "watchdog/recovery_on_request_win.h"

#include <chrono>
#include <string>

#include "common/environment_win.h"
#include "platform/wintun/orphan_cleanup_win.h"
#include "state/journal_lock_win.h"
#include "state/state_files_win.h"
#include "watchdog/monitoring_marker_win.h"
#include "watchdog/system_state_recovery_win.h"

namespace nuv {

RecoveryOnRequestSystem windows_recovery_on_request_system(Log& details,
                                                           ChildStandardInput& standard_input) {
  const auto state_path = []() -> std::optional<std::string> {
    const auto appdata = environment_variable(L"APPDATA");
    if (!appdata) return std::nullopt;
    return state_paths(*appdata).state;
  };
  return RecoveryOnRequestSystem{
      .state_path = state_path,
      .watchdog_monitors = watchdog_monitors,
      .lock_journal =
          [&details](const std::string& path, std::chrono::milliseconds limit) {
            auto lock = lock_journal_within(path, limit);
            if (lock && lock->abandoned()) details.write(abandoned_lock_text(path));
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
