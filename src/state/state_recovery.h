// The state recovery run: finds the client's journal, loads it with its meta
// record, has it rolled back, and hands back the error messages; and the
// loading of a journal on its own, which the plan shares.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "common/error_list.h"
#include "common/result.h"
#include "state/journal_outcome.h"
#include "state/state_files.h"
#include "state/state_paths.h"
#include "state/state_recovery_system.h"
#include "state/system_change.h"

namespace nuv {

// Why there is nothing to roll back.
enum class NothingToRecover {
  kNoAppdata,   // APPDATA is not set
  kNoJournal,   // no journal file (or no data folder)
  kUnreadable,  // a journal is there but cannot be read
  kInvalid,     // a journal is there but is not UTF-8 or not a valid journal
  kNoRecords,   // a valid journal that holds no record
  kNoRuntime,   // the runtime of the rollback could not be made
  // A watchdog monitors a running client of the journal: its changes may be
  // that live session's, so the journal and the meta file are left alone.
  kWatched,
};

// A journal read and understood.
struct LoadedJournal {
  std::string text;  // the bytes as read
  std::vector<SystemChange> changes;
};

// Why a journal could not be loaded: kNoJournal, kUnreadable or kInvalid,
// and the words the log and the plan use for it ("cannot be read: ...",
// "is invalid: ...").
struct JournalUnavailable {
  NothingToRecover why = NothingToRecover::kUnreadable;
  std::string reason;
};

// Reads the journal at `path` whole and parses it strictly. Nothing is written.
Result<LoadedJournal, JournalUnavailable> load_journal(const StateFiles& files,
                                                       const std::string& path);

// "2 records", "1 record".
std::string record_count_text(std::size_t count);

// The run, in three forms that differ only in what they hand back.
//
// recover_journal: the whole answer. Why there was nothing to recover (no
// APPDATA, no readable, UTF-8, valid and non-empty journal, or no runtime),
// and then neither file has been touched; otherwise the rollback's messages,
// possibly none, and how the journal was left. For callers that act on the
// reason or on the journal's fate (the recovery on request's exit code).
Result<RollbackOutcome, NothingToRecover> recover_journal(const StateRecoverySystem& system);

// The same run, the reason dropped: absent when there was nothing to recover.
std::optional<RollbackOutcome> run_state_recovery_with_outcome(const StateRecoverySystem& system);

// The same run, the messages alone: absent when there was nothing to
// recover, else one message per undo that failed. What the summary line of
// a recovery after a crash needs.
std::optional<ErrorList> run_state_recovery(const StateRecoverySystem& system);

}  // namespace nuv
