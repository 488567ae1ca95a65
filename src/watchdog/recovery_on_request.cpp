#include "watchdog/recovery_on_request.h"

#include <new>
#include <optional>
#include <utility>

#include "watchdog/exit_codes.h"
#include "watchdog/messages.h"

namespace nuv {
namespace {

int exit_code_for(const Result<RollbackOutcome, NothingToRecover>& outcome,
                  const RecoveryOnRequestSystem& system) {
  if (!outcome) {
    switch (outcome.error()) {
      case NothingToRecover::kNoJournal:
      case NothingToRecover::kNoRecords:
        return kExitClean;
      case NothingToRecover::kNoAppdata:
      case NothingToRecover::kUnreadable:
      case NothingToRecover::kInvalid:
        return kExitJournalUnusable;
      case NothingToRecover::kNoRuntime:
        break;  // nothing was undone
    }
    return kExitRecovered;
  }
  if (!outcome->errors.empty() || outcome->journal.kept != JournalKept::kDeleted) {
    return kExitRecovered;
  }
  // What is on disk decides: a journal the engine meant to delete may still
  // be there.
  return system.journal_has_records() ? kExitRecovered : kExitClean;
}

// A journal step that ran out of memory touched neither file and leaves
// its changes for a later run.
Result<RollbackOutcome, NothingToRecover> recover_journal_within_memory(
    const RecoveryOnRequestSystem& system) {
  try {
    return system.recover_journal();
  } catch (const std::bad_alloc&) {
    return RollbackOutcome{out_of_memory_errors(system.out_of_memory), {}};
  }
}

}  // namespace

int recover_on_request(MessageSink& sink, const RecoveryOnRequestSystem& system) {
  // Without APPDATA there is no journal to guard, and no watchdog can have
  // named a marker for it either: the adapter step runs, and the journal
  // step says why it found nothing.
  const auto state_path = system.state_path();
  std::optional<JournalLock> lock;
  if (state_path) {
    if (system.watchdog_monitors(*state_path)) {
      sink.write_line(watchdog_monitoring_refusal_message());
      return kExitNotStarted;
    }
    auto had = system.lock_journal(*state_path, kRecoveryLockLimit);
    if (!had) {
      sink.write_line(recovery_running_refusal_message());
      return kExitNotStarted;
    }
    lock = std::move(*had);
    // A client and its watchdog may have started while this one waited.
    if (system.watchdog_monitors(*state_path)) {
      sink.write_line(watchdog_monitoring_refusal_message());
      return kExitNotStarted;
    }
  }
  sink.write_line(recovery_on_request_message());
  sink.write_line(orphan_cleanup_message(
      orphan_count_within_memory(system.clean_wintun_orphans, system.out_of_memory)));
  const auto outcome = recover_journal_within_memory(system);
  sink.write_line(state_recovery_message(outcome ? std::optional(outcome->errors)
                                                 : std::optional<ErrorList>()));
  return exit_code_for(outcome, system);
}

}  // namespace nuv
