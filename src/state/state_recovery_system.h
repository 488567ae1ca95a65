// What the state recovery run asks of the system: APPDATA, the files, a
// runtime to roll back on, the journal lock and the log. The program passes
// the real ones; a test passes fakes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/os_error.h"
#include "common/result.h"
#include "state/journal_lock.h"
#include "state/journal_outcome.h"
#include "state/state_files.h"
#include "state/system_state_store.h"

namespace nuv {

// What the run asks of the system.
struct StateRecoverySystem {
  // The value of APPDATA; absent when it is not set.
  std::function<std::optional<std::string>()> appdata;
  // The journal and the meta file are read through it; the journal is deleted
  // through it after a complete rollback. Only read and remove are used here.
  StateFiles files;
  // Starts a runtime for this run alone, rolls the store back on it, shuts it
  // down and returns the outcome; fails with the system's code when the
  // runtime cannot be made and not even its message can be had.
  std::function<Result<RollbackOutcome, OsError>(SystemStateStore&)> roll_back;
  // Waits until the journal at this path is no other recovery's, and keeps it
  // so while the lock lives. When no lock can be had the run goes on without
  // one. Not set: no locking.
  std::function<Result<JournalLock, OsError>(const std::string& state_path)> lock_journal;
  // Called on the thread that took the lock, once it is held: a watchdog
  // whose client ended lowers its pending marker there. Not set: nothing.
  std::function<void()> journal_locked;
  // Asked once the lock is held, immediately before the journal is read:
  // true when a watchdog monitors a running client of the journal, whose
  // session's changes it may now hold; the journal is then left alone. A
  // doubt answers false, since a recovery that never runs leaves the network
  // broken. Not set: never.
  std::function<bool(const std::string& state_path)> watchdog_monitors;
  // Detail lines for the log: how the journal was found and kept. Not set:
  // none are written.
  std::function<void(std::string_view line)> log;
};

}  // namespace nuv
