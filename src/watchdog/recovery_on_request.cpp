#include "watchdog/recovery_on_request.h"

#include <new>
#include <optional>
#include <string>
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
      case NothingToRecover::kWatched:
        return kExitNotStarted;
      case NothingToRecover::kNoRuntime:
        break;  // nothing was undone
    }
    return kExitRecovered;
  }
  if (!outcome->errors.empty()) return kExitRecovered;
  // What is on disk decides, whatever the engine meant: a journal it meant
  // to delete may still be there, and one that someone else deleted while
  // the undos ran leaves nothing behind.
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
    // Refused for another watchdog's live client, or for one whose client
    // ended and that has not yet taken the lock: its recovery may be about
    // to run, and a client that went on now would journal a new session
    // under it.
    const auto refusal = [&system, &state_path]() -> std::optional<std::string> {
      if (system.watchdog_monitors(*state_path)) return watchdog_monitoring_refusal_message();
      if (system.recovery_pending(*state_path)) return recovery_running_refusal_message();
      return std::nullopt;
    };
    if (const auto refused = refusal()) {
      sink.write_line(*refused);
      return kExitNotStarted;
    }
    auto had = system.lock_journal(*state_path, kRecoveryLockLimit);
    if (!had) {
      sink.write_line(recovery_running_refusal_message());
      return kExitNotStarted;
    }
    lock = std::move(*had);
    // A client and its watchdog may have started while this one waited, or
    // another client may have ended.
    if (const auto refused = refusal()) {
      sink.write_line(*refused);
      return kExitNotStarted;
    }
  }
  sink.write_line(recovery_on_request_message());
  sink.write_line(orphan_cleanup_message(
      orphan_count_within_memory(system.clean_wintun_orphans, system.out_of_memory)));
  const auto outcome = recover_journal_within_memory(system);
  sink.write_line(journal_step_message(outcome ? JournalStepResult(outcome->errors)
                                               : JournalStepResult(unexpected(outcome.error()))));
  return exit_code_for(outcome, system);
}

}  // namespace nuv
