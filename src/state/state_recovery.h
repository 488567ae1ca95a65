// The state recovery run: finds the client's journal, loads it with its meta
// record, has it rolled back, and hands back the error messages.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

// Why there was nothing to recover (no APPDATA, no readable, UTF-8, valid and
// non-empty journal, or no runtime); then neither file has been touched.
// Otherwise the rollback's messages, possibly none, and how the journal was
// left.
Result<RollbackOutcome, NothingToRecover> recover_journal(const StateRecoverySystem& system);

// The same, absent when there was nothing to recover.
std::optional<RollbackOutcome> run_state_recovery_with_outcome(const StateRecoverySystem& system);

// The same, the messages alone.
std::optional<ErrorList> run_state_recovery(const StateRecoverySystem& system);

}  // namespace nuv
