// The recovery on request (--recover): the same two steps as after a crash,
// run at once, but never while a watchdog monitors a client and never beside
// another recovery of the same journal.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/os_error.h"
#include "common/result.h"
#include "state/journal_outcome.h"
#include "state/state_recovery.h"
#include "watchdog/message_sink.h"
#include "watchdog/recovery.h"

namespace nuv {

// How long the recovery waits for another recovery of the journal to end.
inline constexpr std::chrono::seconds kRecoveryLockLimit{60};

// What the recovery on request asks of the system. The program passes the
// real ones; tests pass fakes.
struct RecoveryOnRequestSystem {
  // The client's journal; absent when APPDATA is not set.
  std::function<std::optional<std::string>()> state_path;
  // True unless the system says that no watchdog monitors the journal.
  std::function<bool(const std::string& state_path)> watchdog_monitors;
  // True unless the system says that no watchdog whose client ended is
  // still on its way to the journal's lock.
  std::function<bool(const std::string& state_path)> recovery_pending;
  // Fails when the journal's lock is not had within the limit.
  std::function<Result<JournalLock, OsError>(const std::string& state_path,
                                             std::chrono::milliseconds limit)>
      lock_journal;
  std::function<std::uint64_t()> clean_wintun_orphans;
  // The journal step, run while the lock above is held.
  std::function<Result<RollbackOutcome, NothingToRecover>()> recover_journal;
  // After the run: true when a journal with records may be on disk.
  std::function<bool()> journal_has_records;
  OutOfMemoryReport out_of_memory;
};

// Runs the recovery, writing its lines to `sink`, and returns the exit code:
// 0 when no undo failed and no journal with records is left, 1 when changes
// remain, 3 when the journal cannot be found, read or understood, 4 when the
// journal was not recovered (a watchdog watches a client, or another
// recovery held it).
int recover_on_request(MessageSink& sink, const RecoveryOnRequestSystem& system);

}  // namespace nuv
