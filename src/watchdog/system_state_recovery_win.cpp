// The state recovery wired to the real system: every undo runs through
// run_command on an event loop made for the run.
#include "watchdog/system_state_recovery_win.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "common/win32.h"
#include "common/code_pages.h"
#include "common/environment_win.h"
#include "common/os_error.h"
#include "platform/process/command_runner.h"
#include "platform/rollback/internet_settings_win.h"
#include "platform/rollback/read_back_win.h"
#include "platform/rollback/rollback_engine.h"
#include "platform/runtime/event_loop.h"
#include "state/journal_lock_win.h"
#include "state/state_files_win.h"
#include "state/state_recovery.h"
#include "watchdog/monitoring_marker_win.h"

namespace nuv {
namespace {

std::int64_t seconds_since_1970() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The one message of a recovery whose event loop could not start; no file
// is touched, so the journal stays for a later run.
Result<RollbackOutcome, OsError> threads_failed(const char* what) noexcept {
  try {
    return RollbackOutcome{{std::string("could not start the recovery's threads: ") + what}, {}};
  } catch (...) {
    return unexpected(OsError{kOutOfMemoryError});  // not even memory for the message
  }
}

Result<RollbackOutcome, OsError> roll_back_on_own_runtime(SystemStateStore& store,
                                                          const StateFiles& files, Log& log,
                                                          ChildStandardInput* standard_input,
                                                          const ReadBackSystem& machine) {
  std::optional<EventLoop> loop;
  try {
    loop.emplace();
  } catch (const std::bad_alloc&) {
    throw;  // the recovery says "out of memory", as for any step that ran out
  } catch (const std::exception& failure) {
    // Nothing undone and no file touched; the journal stays for a later run.
    return threads_failed(failure.what());
  }
  const UndoSystem system{
      .run =
          [&loop, standard_input](const CommandRequest& request) {
            return run_command_blocking(*loop, request, {}, standard_input);
          },
      .message_texts = system_message_texts,
      .code_page_readings = code_page_readings,
      .announce_internet_settings_changed = announce_internet_settings_changed,
      // The machine's own state judges each undo, whatever its tool said.
      .read_back =
          [&machine](const SystemChange& change) { return read_back_change(change, machine); },
  };
  auto outcome = rollback_changes(store, system, files, seconds_since_1970, log);
  loop->shutdown();
  return outcome;
}

// Right before the journal is read. A doubt is logged and counts as no
// watchdog: a recovery that never runs leaves the network broken.
bool watchdog_monitors_journal(const std::string& state_path, Log& log) {
  const auto found = find_marker(MarkerKind::kMonitoring, state_path);
  if (found) return *found;
  log.write("monitoring marker could not be looked for, so the journal is recovered: " +
            found.error());
  return false;
}

StateRecoverySystem real_system(Log& log, bool take_lock, ChildStandardInput* standard_input,
                                ReadBackSystem machine) {
  StateFiles files = windows_state_files();
  StateRecoverySystem system{
      .appdata = [] { return environment_variable(L"APPDATA"); },
      .files = files,
      .roll_back =
          [files, &log, standard_input, machine = std::move(machine)](SystemStateStore& store) {
            return roll_back_on_own_runtime(store, files, log, standard_input, machine);
          },
      .lock_journal = lock_journal,
      .journal_locked = {},
      .watchdog_monitors =
          [&log](const std::string& state_path) {
            return watchdog_monitors_journal(state_path, log);
          },
      .log = [&log](std::string_view line) { log.write(line); },
  };
  if (!take_lock) system.lock_journal = nullptr;
  return system;
}

}  // namespace

JournalStepResult recover_system_state(Log& log, ChildStandardInput* standard_input,
                                       std::function<void()> journal_locked,
                                       ReadBackSystem machine) {
  StateRecoverySystem system =
      real_system(log, /*take_lock=*/true, standard_input, std::move(machine));
  system.journal_locked = std::move(journal_locked);
  auto outcome = recover_journal(system);
  if (!outcome) return unexpected(outcome.error());
  return std::move(outcome->errors);
}

Result<RollbackOutcome, NothingToRecover> recover_journal_holding_its_lock(
    Log& log, ChildStandardInput* standard_input) {
  return recover_journal(
      real_system(log, /*take_lock=*/false, standard_input, windows_read_back_system()));
}

OutOfMemoryReport out_of_memory_report(Log& log) {
  return OutOfMemoryReport{
      .system_text = os_error_text(ERROR_NOT_ENOUGH_MEMORY),
      .log = [&log](std::string_view line) { log.write(line); },
  };
}

}  // namespace nuv
