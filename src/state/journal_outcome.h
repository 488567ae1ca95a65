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
  // Someone else deleted it during the rollback: it is not written back, and
  // the meta file, which would count nothing, is deleted too.
  kGone,
  // The new journal could not be written beside it, so every record stays;
  // the meta file still counts the partial rollback.
  kLeftBecauseTemporaryUnwritable,
  // The new journal could not be renamed over it (`error`), so it was
  // written over it in place; it holds the `records` changes that failed.
  kRewrittenInPlace,
  // Neither renamed over (`error`) nor opened to be written in place
  // (`in_place_error`): the journal and the meta file are as they were.
  kLeftBecauseUnopenable,
  // Not renamed over (`error`), and the `records` changes that failed take
  // more bytes than it holds, so it keeps every record rather than grow in
  // place; the meta file still counts the partial rollback.
  kLeftBecauseLonger,
  // Not renamed over (`error`), and the write in place failed
  // (`in_place_error`): it may hold part of the new text and read as invalid.
  kInPlaceWriteFailed,
  // Every undo succeeded but the journal could not be deleted (`error`): it
  // still holds every record, and the meta file is as it was.
  kDeleteFailed,
};

struct JournalOutcome {
  JournalKept kept = JournalKept::kNoPath;
  std::size_t records = 0;  // how many changes failed, when the journal was to hold them
  // The system's text of the failed rename or delete behind `kept`.
  std::string error = {};
  // After a refused rename: the system's text of the failed open or write.
  std::string in_place_error = {};
  // The system's text of the failure when the meta file could not be
  // replaced or deleted as the outcome asked; empty when it was.
  std::string meta_error = {};
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
