#include "state/state_recovery.h"

#include <cstdint>
#include <optional>
#include <utility>

#include "common/list_notation.h"
#include "common/path.h"
#include "common/utf.h"
#include "state/journal_format.h"

namespace nuv {

std::string record_count_text(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " record" : " records");
}

Result<LoadedJournal, JournalUnavailable> load_journal(const StateFiles& files,
                                                       const std::string& path) {
  auto text = files.read(path);
  if (!text) {
    const FileError& error = text.error();
    return unexpected(JournalUnavailable{
        error.not_found ? NothingToRecover::kNoJournal : NothingToRecover::kUnreadable,
        "cannot be read" + (error.text.empty() ? std::string() : ": " + error.text)});
  }
  if (!is_valid_utf8(*text)) {
    return unexpected(
        JournalUnavailable{NothingToRecover::kInvalid, "is invalid: it is not UTF-8"});
  }
  auto changes = parse_journal(*text);
  if (!changes) {
    return unexpected(
        JournalUnavailable{NothingToRecover::kInvalid, "is invalid: " + changes.error().reason});
  }
  return LoadedJournal{std::move(*text), std::move(*changes)};
}

namespace {

// What became of the meta file after a partial rollback.
std::string meta_counted_text(const JournalOutcome& journal) {
  if (journal.meta_error.empty()) return "the meta file counts the partial rollback";
  return "the meta file does not count the partial rollback: it could not be replaced: " +
         journal.meta_error;
}

// How the outcome was kept, for the log: what is on disk, not what was meant.
std::string kept_text(const JournalOutcome& journal, const std::string& state_path) {
  const std::string failed = record_count_text(journal.records) + ", the changes that failed";
  const std::string not_renamed = "the new journal could not be renamed over it: " + journal.error;
  switch (journal.kept) {
    case JournalKept::kNoPath:
      return "journal and meta file not touched";
    case JournalKept::kDeleted:
      if (!journal.meta_error.empty()) {
        return "journal deleted: every change was undone; the meta file could not be deleted: " +
               journal.meta_error;
      }
      return "journal and meta file deleted: every change was undone";
    case JournalKept::kRewritten:
      return "journal rewritten with " + failed + "; " + meta_counted_text(journal);
    case JournalKept::kGone:
      return std::string("journal gone: someone else deleted it during the recovery") +
             (journal.records > 0 ? ", so the " + failed + " are not written back" : "") +
             (journal.meta_error.empty()
                  ? "; the meta file deleted too"
                  : "; the meta file could not be deleted: " + journal.meta_error);
    case JournalKept::kLeftBecauseChanged:
      return "journal and meta file left alone: the journal changed during the recovery, so a "
             "relaunched client owns it again";
    case JournalKept::kLeftBecauseTemporaryUnwritable:
      return "journal left alone with every record: the temporary file " +
             list_notation({state_path + ".tmp"}) + " could not be written; " +
             meta_counted_text(journal);
    case JournalKept::kRewrittenInPlace:
      return "journal rewritten in place with " + failed + ", since " + not_renamed + "; " +
             meta_counted_text(journal);
    case JournalKept::kLeftBecauseUnopenable:
      return "journal and meta file left as they were, the journal with every record: " +
             not_renamed +
             "; nor could it be opened to be written in place: " + journal.in_place_error;
    case JournalKept::kLeftBecauseLonger:
      return "journal left alone with every record: " + not_renamed + "; and the " + failed +
             " take more bytes than it holds, so they were not written in place; " +
             meta_counted_text(journal);
    case JournalKept::kInPlaceWriteFailed:
      return "journal may be unreadable, holding part of the " + failed + ": " + not_renamed +
             "; and writing it in place failed: " + journal.in_place_error + "; " +
             meta_counted_text(journal);
    case JournalKept::kDeleteFailed:
      return "journal and meta file left as they were, the journal with every record: every "
             "change was undone, but the journal could not be deleted: " +
             journal.error;
  }
  return "journal: kept in an unknown way";
}

}  // namespace

Result<RollbackOutcome, NothingToRecover> recover_journal(const StateRecoverySystem& system) {
  const auto log = [&system](const std::string& line) {
    if (system.log) system.log(line);
  };
  const auto appdata = system.appdata();
  if (!appdata) {
    log("no journal: APPDATA is not set");
    return unexpected(NothingToRecover::kNoAppdata);
  }
  auto paths = state_paths(*appdata);
  const std::string journal = "journal " + list_notation({paths.state});

  // From before the journal is read until its outcome is on disk: a second
  // recovery of the same journal would run every undo again and then write
  // this one's successes back as failures. It reads the journal afresh once
  // it has the lock.
  std::optional<JournalLock> lock;
  if (system.lock_journal) {
    if (auto had = system.lock_journal(paths.state)) {
      lock = std::move(*had);
    } else {
      log(journal + ": no lock to be had; recovering without one");
    }
  }
  if (lock && lock->abandoned()) log(abandoned_lock_text(paths.state));
  if (lock && system.journal_locked) system.journal_locked();
  // Last, right before the read: a client relaunched while this recovery
  // waited may already be journalling its new session here.
  if (system.watchdog_monitors && system.watchdog_monitors(paths.state)) {
    log(journal +
        " left alone with the meta file: a watchdog is monitoring a running client, "
        "whose session's changes it may hold");
    return unexpected(NothingToRecover::kWatched);
  }

  auto loaded = load_journal(system.files, paths.state);
  if (!loaded) {
    const bool invalid = loaded.error().why == NothingToRecover::kInvalid;
    log(journal + " " + loaded.error().reason + (invalid ? "; left as it is" : ""));
    return unexpected(loaded.error().why);
  }
  if (loaded->changes.empty()) {
    log(journal + " holds no records");
    return unexpected(NothingToRecover::kNoRecords);
  }
  log(journal + " holds " + record_count_text(loaded->changes.size()));

  // A meta file that is missing, unreadable or invalid counts from 0.
  SystemStateMeta meta;
  if (const auto meta_text = system.files.read(paths.meta);
      meta_text && is_valid_utf8(*meta_text)) {
    if (auto values = parse_meta(*meta_text)) meta = *values;
  }

  const std::string text = loaded->text;
  SystemStateStore store;
  store.state_path = paths.state;
  store.meta_path = paths.meta;
  store.loaded_journal = std::move(loaded->text);
  store.changes = std::move(loaded->changes);
  store.meta = meta;

  auto outcome = system.roll_back(store);
  if (!outcome) return unexpected(NothingToRecover::kNoRuntime);
  log(kept_text(outcome->journal, paths.state));
  // The engine has normally deleted it already. A journal that no longer
  // holds what was loaded is the client's new one and stays; one the engine
  // could not delete is not tried again, so the log above stays true.
  if (outcome->errors.empty() && outcome->journal.kept != JournalKept::kLeftBecauseChanged &&
      outcome->journal.kept != JournalKept::kDeleteFailed &&
      file_holds(system.files, paths.state, text)) {
    (void)system.files.remove(paths.state);
  }
  return std::move(*outcome);
}

std::optional<RollbackOutcome> run_state_recovery_with_outcome(const StateRecoverySystem& system) {
  auto outcome = recover_journal(system);
  if (!outcome) return std::nullopt;
  return std::move(*outcome);
}

std::optional<ErrorList> run_state_recovery(const StateRecoverySystem& system) {
  auto outcome = run_state_recovery_with_outcome(system);
  if (!outcome) return std::nullopt;
  return std::move(outcome->errors);
}

}  // namespace nuv
