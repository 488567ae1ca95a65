// What a rollback did with the journal: the messages of the undos that failed
// and how the journal and meta file were left.
#pragma once

#include <cstddef>

#include "common/error_list.h"

namespace nuv {

// How the journal was left once the undos were done.
enum class JournalKept {
  kNoPath,     // the store named no journal: no file work
  kDeleted,    // every undo succeeded
  kRewritten,  // it now holds the `records` changes that failed
  // The client rewrote or removed it during the rollback, so it is the
  // client's again: neither the journal nor the meta file was touched.
  kLeftBecauseChanged,
  // The new journal could not be written beside it, so every record stays;
  // the meta file still counts the partial rollback.
  kLeftBecauseTemporaryUnwritable,
};

struct JournalOutcome {
  JournalKept kept = JournalKept::kNoPath;
  std::size_t records = 0;  // for kRewritten: how many changes it holds
  bool operator==(const JournalOutcome&) const = default;
};

struct RollbackOutcome {
  // One per failed undo, the newest failing change first, held within the
  // budget of the summary line that lists them.
  ErrorList errors;
  JournalOutcome journal;
  bool operator==(const RollbackOutcome&) const = default;
};

}  // namespace nuv
