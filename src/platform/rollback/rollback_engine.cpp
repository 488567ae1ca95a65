#include "platform/rollback/rollback_engine.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <utility>

#include "state/journal_format.h"

namespace nuv {
namespace {

// The rollback takes minutes; a client relaunched meanwhile writes its new
// session's records to the same journal. Deleting or replacing that file
// would throw them away, so it is read again just before, and left to the
// client unless it still holds exactly what was loaded. A journal that
// someone deleted is not written back.
enum class JournalNow { kOurs, kGone, kChanged };

JournalNow journal_now(const SystemStateStore& store, const StateFiles& files) {
  if (!store.loaded_journal) return JournalNow::kOurs;
  const auto now = files.read(*store.state_path);
  if (!now) return now.error().not_found ? JournalNow::kGone : JournalNow::kChanged;
  return *now == *store.loaded_journal ? JournalNow::kOurs : JournalNow::kChanged;
}

// A crash or power loss in the middle of rewriting the journal in place would
// leave it truncated: it would then read as invalid and every change still in
// it would never be undone. So the new text goes to a temporary file beside
// it, flushed, and replaces the journal by a rename.
JournalOutcome write_journal(const SystemStateStore& store, const StateFiles& files,
                             const std::string& text) {
  const std::string& path = *store.state_path;
  const std::string temporary = path + ".tmp";
  const std::size_t records = store.changes.size();
  const auto written = files.write(temporary, text);
  if (const JournalNow now = journal_now(store, files); now != JournalNow::kOurs) {
    (void)files.remove(temporary);
    if (now == JournalNow::kGone) return {JournalKept::kGone, records};
    return {JournalKept::kLeftBecauseChanged};
  }
  if (!written) {
    // Most likely a full disk, where a rewrite in place could stop half-way
    // and lose every record. The old journal keeps them all; the undos that
    // succeeded run again next time, and their "already gone" answers pass.
    (void)files.remove(temporary);
    return {JournalKept::kLeftBecauseTemporaryUnwritable};
  }
  const auto renamed = files.replace(temporary, path);
  if (renamed) return {JournalKept::kRewritten, records};
  // The new text is safely on disk, so space is not the problem; the rename
  // alone is refused, typically because someone holds the journal open
  // without delete sharing. Writing in place is then the one way to keep the
  // outcome, and only over bytes the journal already has, so that it never
  // stands cut short.
  (void)files.remove(temporary);
  const auto in_place =
      files.write_in_place
          ? files.write_in_place(path, text)
          : Result<void, InPlaceError>(unexpected(InPlaceError{InPlaceStep::kOpen, {}}));
  const std::string& why = renamed.error().text;
  if (in_place) return {JournalKept::kRewrittenInPlace, records, why};
  switch (in_place.error().step) {
    case InPlaceStep::kOpen:
      return {JournalKept::kLeftBecauseUnopenable, records, why, in_place.error().text};
    case InPlaceStep::kTooLong:
      return {JournalKept::kLeftBecauseLonger, records, why};
    case InPlaceStep::kWrite:
      break;
  }
  return {JournalKept::kInPlaceWriteFailed, records, why, in_place.error().text};
}

// Empty when the meta file now holds `meta`, else the system's text of why not.
std::string write_meta(const StateFiles& files, const std::string& path,
                       const SystemStateMeta& meta) {
  const std::string temporary = path + ".tmp";
  if (const auto written = files.write(temporary, format_meta(meta)); !written) {
    (void)files.remove(temporary);  // a partial temporary file; the meta file stays as it was
    return written.error().text;
  }
  if (const auto renamed = files.replace(temporary, path); !renamed) {
    (void)files.remove(temporary);
    return renamed.error().text;
  }
  return {};
}

// A file that is gone counts as deleted, whoever removed it.
std::string delete_error(const FileResult& removed) {
  return removed || removed.error().not_found ? std::string() : removed.error().text;
}

JournalOutcome persist_complete(SystemStateStore& store, const StateFiles& files) {
  JournalOutcome outcome;
  {
    const std::lock_guard lock(store.meta_lock);
    store.meta = SystemStateMeta{};
  }
  if (store.state_path) {
    const JournalNow now = journal_now(store, files);
    if (now == JournalNow::kChanged) return {JournalKept::kLeftBecauseChanged};
    if (now == JournalNow::kGone) {
      // Nothing left for it to count.
      outcome = {JournalKept::kGone};
      if (store.meta_path) outcome.meta_error = delete_error(files.remove(*store.meta_path));
      return outcome;
    }
    std::string why = delete_error(files.remove(*store.state_path));
    // Every record is still there and runs again next time: the meta file
    // stays with it, as it was.
    if (!why.empty()) return {JournalKept::kDeleteFailed, 0, std::move(why)};
    outcome = {JournalKept::kDeleted};
  }
  if (store.meta_path) outcome.meta_error = delete_error(files.remove(*store.meta_path));
  return outcome;
}

JournalOutcome persist_partial(SystemStateStore& store, std::vector<SystemChange> failed,
                               const StateFiles& files, const WallClock& clock) {
  std::reverse(failed.begin(), failed.end());  // back to journal order
  JournalOutcome outcome;
  {
    const std::lock_guard lock(store.changes_lock);
    store.changes = std::move(failed);
    // Held while the journal is written, so nobody sees the list change under it.
    if (store.state_path) outcome = write_journal(store, files, format_journal(store.changes));
  }

  const std::int64_t now = clock();
  SystemStateMeta updated;
  {
    const std::lock_guard lock(store.meta_lock);
    if (store.meta.partial_rollback_count < std::numeric_limits<std::uint32_t>::max()) {
      ++store.meta.partial_rollback_count;
    }
    store.meta.last_partial_rollback_unix = now > 0 ? static_cast<std::uint64_t>(now) : 0;
    updated = store.meta;
  }
  // A journal that is the client's again keeps its meta file as it was, and so
  // does one that could not even be opened: whoever holds it shut (often the
  // relaunched client) gets both as they were. A journal kept whole for want
  // of room still counts the partial rollback.
  if (outcome.kept == JournalKept::kLeftBecauseChanged ||
      outcome.kept == JournalKept::kLeftBecauseUnopenable) {
    return outcome;
  }
  // A meta file without its journal counts nothing.
  if (outcome.kept == JournalKept::kGone) {
    if (store.meta_path) outcome.meta_error = delete_error(files.remove(*store.meta_path));
    return outcome;
  }
  if (store.meta_path) outcome.meta_error = write_meta(files, *store.meta_path, updated);
  return outcome;
}

}  // namespace

RollbackOutcome rollback_changes(SystemStateStore& store, const UndoSystem& system,
                                 const StateFiles& files, const WallClock& clock, Log& log) {
  std::vector<SystemChange> pending;
  {
    const std::lock_guard lock(store.changes_lock);
    pending.swap(store.changes);
  }

  RollbackOutcome outcome;
  std::vector<SystemChange> failed;
  while (!pending.empty()) {
    SystemChange change = std::move(pending.back());
    pending.pop_back();
    // Added at once, so that only what the summary will show is held: a
    // tool's megabyte of standard error is cut here, not after every undo.
    if (auto undone = undo_change_error(change, system, log); !undone) {
      outcome.errors.add(std::move(undone.error()));
      failed.push_back(std::move(change));
    }
  }

  if (outcome.errors.empty()) {
    outcome.journal = persist_complete(store, files);
  } else {
    outcome.journal = persist_partial(store, std::move(failed), files, clock);
  }
  return outcome;
}

}  // namespace nuv
