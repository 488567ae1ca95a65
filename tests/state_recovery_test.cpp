#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/list_notation.h"
#include "state/journal_format.h"
#include "state/state_recovery.h"
#include "support/memory_state_files.h"
#include "support/recording_journal_lock.h"

namespace nuv {
namespace {

const std::string kJournal = R"([{"FirewallRuleAdded": {"rule_name": "r"}}])";

// A system whose files live in memory, and whose rollback is recorded rather
// than run. The files' log holds the lock's and the rollback's events too, to
// see what happens under the lock.
struct FakeStateRecoverySystem {
  std::optional<std::string> appdata = R"(C:\Users\u\AppData\Roaming)";
  test::MemoryStateFiles files;
  int rollbacks = 0;
  bool runtime_fails = false;
  std::vector<std::string> errors;
  JournalOutcome journal_outcome;
  std::function<void()> during_rollback;  // may throw, as running out of memory does
  std::vector<SystemChange> seen_changes;
  SystemStateMeta seen_meta;
  std::optional<std::string> seen_state_path, seen_meta_path, seen_loaded_journal;
  bool locking = false;
  bool lock_fails = false;
  std::optional<bool> monitored;  // absent: no marker seam
  std::vector<std::string> logged;

  [[nodiscard]] std::vector<std::string> reads() const { return files.paths("read"); }
  [[nodiscard]] std::vector<std::string> removals() const { return files.paths("remove"); }
  [[nodiscard]] const std::vector<std::string>& events() const { return files.log; }

  StateRecoverySystem system() {
    StateRecoverySystem system{
        .appdata = [this] { return appdata; },
        .files = files.seam(),
        .roll_back = [this](SystemStateStore& store) -> Result<RollbackOutcome, OsError> {
          if (runtime_fails) return unexpected(OsError{kOutOfMemoryError});
          ++rollbacks;
          files.log.emplace_back("roll back");
          seen_changes = store.changes;
          seen_meta = store.meta;
          seen_state_path = store.state_path;
          seen_meta_path = store.meta_path;
          seen_loaded_journal = store.loaded_journal;
          if (during_rollback) during_rollback();
          return RollbackOutcome{errors, journal_outcome};
        },
        .lock_journal = {},
        .journal_locked = [this] { files.log.emplace_back("locked"); },
        .watchdog_monitors = {},
        .log = [this](std::string_view line) { logged.emplace_back(line); },
    };
    if (locking) {
      system.lock_journal = [this](const std::string& path) -> Result<JournalLock, OsError> {
        files.log.push_back("lock " + path);
        if (lock_fails) return unexpected(OsError{5});
        return test::recording_journal_lock(files.log);
      };
    }
    if (monitored) {
      system.watchdog_monitors = [this](const std::string& path) {
        files.log.push_back("marker? " + path);
        return *monitored;
      };
    }
    return system;
  }
};

const std::string kState = R"(C:\Users\u\AppData\Roaming\NUV Client\system_state.json)";

TEST(StateRecovery, NothingToRecoverGivesAbsentAndTouchesNothing) {
  FakeStateRecoverySystem unset;
  unset.appdata.reset();
  EXPECT_EQ(run_state_recovery(unset.system()), std::nullopt);
  EXPECT_TRUE(unset.reads().empty());

  for (const std::string& text : std::vector<std::string>{
           "", "  \n", "[]", " [ ] \r\n", "\xEF\xBB\xBF" + kJournal,
           "[{\"FirewallRuleAdded\": {\"rule_name\": \"\xFF\"}}]",
           "[" + kJournal.substr(1, kJournal.size() - 2) + R"(, {"NewKind": {}}])"}) {
    FakeStateRecoverySystem s;
    s.files.files[kState] = text;
    s.files.files[kState + ".meta"] = format_meta({1, 2});
    EXPECT_EQ(run_state_recovery(s.system()), std::nullopt) << text;
    EXPECT_EQ(s.reads(), std::vector<std::string>{kState})
        << "the meta file is read only for a change";
    EXPECT_EQ(s.rollbacks, 0);
    EXPECT_TRUE(s.removals().empty());
  }

  FakeStateRecoverySystem missing;
  EXPECT_EQ(run_state_recovery(missing.system()), std::nullopt);
}

// The log says how the journal was found, with the reason that standard
// error never gives, and how the outcome was kept.
TEST(StateRecovery, LogSaysHowTheJournalWasFoundAndKept) {
  const std::string journal =
      R"(journal ["C:\\Users\\u\\AppData\\Roaming\\NUV Client\\system_state.json"])";
  FakeStateRecoverySystem unset;
  unset.appdata.reset();
  (void)run_state_recovery(unset.system());
  EXPECT_EQ(unset.logged, std::vector<std::string>{"no journal: APPDATA is not set"});

  const std::vector<std::pair<std::optional<std::string>, std::string>> found{
      {std::nullopt, journal + " cannot be read: not found (os error 2)"},
      {"[\"\xFF\"]", journal + " is invalid: it is not UTF-8; left as it is"},
      {"[ ]]", journal + " is invalid: it is not JSON (syntax error near byte 4); left as it is"},
      {"[]", journal + " holds no records"},
  };
  for (const auto& [text, line] : found) {
    FakeStateRecoverySystem s;
    if (text) s.files.files[kState] = *text;
    (void)run_state_recovery(s.system());
    EXPECT_EQ(s.logged, std::vector<std::string>{line}) << line;
  }

  const std::vector<std::pair<JournalOutcome, std::string>> kept{
      {{JournalKept::kDeleted}, "journal and meta file deleted: every change was undone"},
      {{JournalKept::kRewritten, 2},
       "journal rewritten with 2 records, the changes that failed; the meta file counts the "
       "partial rollback"},
      {{JournalKept::kLeftBecauseChanged},
       "journal and meta file left alone: the journal changed during the recovery, so a "
       "relaunched client owns it again"},
      {{JournalKept::kGone},
       "journal gone: someone else deleted it during the recovery; the meta "
       "file deleted too"},
      {{JournalKept::kGone, 2, {}, {}, "held (os error 32)"},
       "journal gone: someone else deleted it during the recovery, so the 2 records, the changes "
       "that failed are not written back; the meta file could not be deleted: held (os error 32)"},
      {{JournalKept::kLeftBecauseTemporaryUnwritable},
       R"(journal left alone with every record: the temporary file ["C:\\Users\\u\\AppData\\Roaming\\NUV Client\\system_state.json.tmp"] could not be written; the meta file counts the partial rollback)"},
      // What is on disk when the journal cannot be replaced: both errors,
      // and the meta file as it is.
      {{JournalKept::kLeftBecauseUnopenable, 1, "rename refused (os error 32)",
        "open refused (os error 32)"},
       "journal and meta file left as they were, the journal with every record: the new journal "
       "could not be renamed over it: rename refused (os error 32); nor could it be opened to be "
       "written in place: open refused (os error 32)"},
      {{JournalKept::kRewrittenInPlace, 1, "rename refused (os error 32)"},
       "journal rewritten in place with 1 record, the changes that failed, since the new journal "
       "could not be renamed over it: rename refused (os error 32); the meta file counts the "
       "partial rollback"},
      {{JournalKept::kLeftBecauseLonger, 2, "rename refused (os error 32)"},
       "journal left alone with every record: the new journal could not be renamed over it: "
       "rename refused (os error 32); and the 2 records, the changes that failed take more bytes "
       "than it holds, so they were not written in place; the meta file counts the partial "
       "rollback"},
      {{JournalKept::kInPlaceWriteFailed, 1, "rename refused (os error 32)",
        "write failed (os error 1117)"},
       "journal may be unreadable, holding part of the 1 record, the changes that failed: the new "
       "journal could not be renamed over it: rename refused (os error 32); and writing it in "
       "place failed: write failed (os error 1117); the meta file counts the partial rollback"},
      {{JournalKept::kDeleteFailed, 0, "held (os error 32)"},
       "journal and meta file left as they were, the journal with every record: every change was "
       "undone, but the journal could not be deleted: held (os error 32)"},
      {{JournalKept::kRewritten, 1, {}, {}, "a directory (os error 5)"},
       "journal rewritten with 1 record, the changes that failed; the meta file does not count "
       "the partial rollback: it could not be replaced: a directory (os error 5)"},
      {{JournalKept::kDeleted, 0, {}, {}, "held (os error 32)"},
       "journal deleted: every change was undone; the meta file could not be deleted: held (os "
       "error 32)"},
  };
  for (const auto& [outcome, line] : kept) {
    FakeStateRecoverySystem s;
    s.files.files[kState] = kJournal;
    s.journal_outcome = outcome;
    (void)run_state_recovery(s.system());
    EXPECT_EQ(s.logged, (std::vector<std::string>{journal + " holds 1 record", line})) << line;
  }
}

TEST(StateRecovery, EmptyAppdataLooksInTheRelativeFolder) {
  FakeStateRecoverySystem s;
  s.appdata = "";
  s.files.files["NUV Client\\system_state.json"] = kJournal;
  EXPECT_EQ(run_state_recovery(s.system()), std::vector<std::string>{});
  EXPECT_EQ(s.seen_state_path, "NUV Client\\system_state.json");
  EXPECT_EQ(s.seen_meta_path, "NUV Client\\system_state.json.meta");
}

TEST(StateRecovery, MetaValuesAreReadOrZero) {
  for (const auto& [meta_text, expected] :
       std::vector<std::pair<std::optional<std::string>, SystemStateMeta>>{
           {std::nullopt, {0, 0}},
           {format_meta({3, 44}), {3, 44}},
           {R"({"partial_rollback_count": 3})", {0, 0}},
           {"\xEF\xBB\xBF" + format_meta({3, 44}), {0, 0}},
       }) {
    FakeStateRecoverySystem s;
    s.files.files[kState] = kJournal;
    if (meta_text) s.files.files[kState + ".meta"] = *meta_text;
    ASSERT_TRUE(run_state_recovery(s.system()));
    EXPECT_EQ(s.seen_meta, expected);
    EXPECT_EQ(s.seen_changes, std::vector<SystemChange>{FirewallRuleAdded{"r"}});
  }
}

TEST(StateRecovery, CompleteRollbackDeletesTheJournalOnceMore) {
  FakeStateRecoverySystem s;
  s.files.files[kState] = kJournal;
  EXPECT_EQ(run_state_recovery(s.system()), std::vector<std::string>{});
  EXPECT_EQ(s.removals(), std::vector<std::string>{kState});
}

// The engine could not delete the journal: it is not deleted behind the
// log's back either, so the log stays true.
TEST(StateRecovery, AJournalTheEngineCouldNotDeleteIsNotDeletedAfterwards) {
  FakeStateRecoverySystem s;
  s.files.files[kState] = kJournal;
  s.journal_outcome = {JournalKept::kDeleteFailed, 0, "held (os error 32)"};
  EXPECT_EQ(run_state_recovery(s.system()), std::vector<std::string>{});
  EXPECT_TRUE(s.removals().empty());
}

TEST(StateRecovery, ErrorsAreHandedBackAndTheJournalKept) {
  FakeStateRecoverySystem s;
  s.files.files[kState] = kJournal;
  s.errors = {"delete firewall rule failed: x"};
  EXPECT_EQ(run_state_recovery(s.system()), s.errors);
  EXPECT_TRUE(s.removals().empty());
}

TEST(StateRecovery, TheStoreCarriesTheJournalAsItWasRead) {
  FakeStateRecoverySystem s;
  s.files.files[kState] = kJournal;
  ASSERT_TRUE(run_state_recovery(s.system()));
  EXPECT_EQ(s.seen_loaded_journal, kJournal);
}

// A journal that the engine left because the client took it back during the
// rollback is not deleted afterwards, nor is one rewritten after the engine
// deleted it.
TEST(StateRecovery, AJournalTakenBackByTheClientIsNotDeletedAfterwards) {
  FakeStateRecoverySystem changed;
  changed.files.files[kState] = kJournal;
  changed.journal_outcome = {JournalKept::kLeftBecauseChanged};
  changed.during_rollback = [&changed] { changed.files.files[kState] = "[]"; };
  EXPECT_EQ(run_state_recovery_with_outcome(changed.system()),
            (RollbackOutcome{{}, {JournalKept::kLeftBecauseChanged}}));
  EXPECT_TRUE(changed.removals().empty());

  FakeStateRecoverySystem rewritten_after;
  rewritten_after.files.files[kState] = kJournal;
  rewritten_after.journal_outcome = {JournalKept::kDeleted};
  rewritten_after.during_rollback = [&rewritten_after] {
    rewritten_after.files.files[kState] = R"([{"FirewallRuleAdded": {"rule_name": "new"}}])";
  };
  EXPECT_EQ(run_state_recovery(rewritten_after.system()), std::vector<std::string>{});
  EXPECT_TRUE(rewritten_after.removals().empty());
}

TEST(StateRecovery, OutcomeIsHandedBackBesideTheMessages) {
  FakeStateRecoverySystem s;
  s.files.files[kState] = kJournal;
  s.errors = {"delete firewall rule failed: x"};
  s.journal_outcome = {JournalKept::kRewritten, 1};
  EXPECT_EQ(run_state_recovery_with_outcome(s.system()),
            (RollbackOutcome{s.errors, {JournalKept::kRewritten, 1}}));
}

// One recovery per journal: the lock is taken before the journal is read
// and given back once its outcome is kept, the last deletion included.
TEST(StateRecovery, LockIsHeldFromTheFirstReadUntilTheOutcomeIsKept) {
  FakeStateRecoverySystem s;
  s.locking = true;
  s.files.files[kState] = kJournal;
  ASSERT_EQ(run_state_recovery(s.system()), std::vector<std::string>{});
  EXPECT_EQ(s.events(), (std::vector<std::string>{"lock " + kState, "locked", "read " + kState,
                                                  "read " + kState + ".meta", "roll back",
                                                  "read " + kState, "remove " + kState, "unlock"}));

  FakeStateRecoverySystem nothing;
  nothing.locking = true;
  EXPECT_EQ(run_state_recovery(nothing.system()), std::nullopt);
  EXPECT_EQ(nothing.events(),
            (std::vector<std::string>{"lock " + kState, "locked", "read " + kState, "unlock"}));
}

// A lock that cannot be had is not held, so the watchdog keeps its pending
// marker for as long as it runs.
TEST(StateRecovery, LockALockThatCannotBeHadDoesNotStopTheRecovery) {
  FakeStateRecoverySystem s;
  s.locking = true;
  s.lock_fails = true;
  s.files.files[kState] = kJournal;
  EXPECT_EQ(run_state_recovery(s.system()), std::vector<std::string>{});
  EXPECT_EQ(s.rollbacks, 1);
  EXPECT_EQ(std::count(s.events().begin(), s.events().end(), "locked"), 0);
}

// A watchdog that monitors a client of the journal, seen once the lock is
// held and right before the read: the journal may hold that live session's
// changes, so it is not even read, and nothing is undone or touched. Seen
// nowhere, the recovery runs as ever.
TEST(StateRecovery, LockAJournalOfAWatchedClientIsLeftAloneUnread) {
  FakeStateRecoverySystem watched;
  watched.locking = true;
  watched.monitored = true;
  watched.files.files[kState] = kJournal;
  watched.files.files[kState + ".meta"] = format_meta({2, 5});
  const auto outcome = recover_journal(watched.system());
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error(), NothingToRecover::kWatched);
  EXPECT_EQ(watched.events(),
            (std::vector<std::string>{"lock " + kState, "locked", "marker? " + kState, "unlock"}));
  EXPECT_EQ(watched.rollbacks, 0);
  EXPECT_EQ(watched.files.files.at(kState), kJournal);
  EXPECT_EQ(watched.files.files.at(kState + ".meta"), format_meta({2, 5}));
  EXPECT_EQ(watched.logged.back(),
            "journal " + list_notation({kState}) +
                " left alone with the meta file: a watchdog is monitoring a running client, "
                "whose session's changes it may hold");

  FakeStateRecoverySystem unwatched;
  unwatched.locking = true;
  unwatched.monitored = false;
  unwatched.files.files[kState] = kJournal;
  EXPECT_EQ(run_state_recovery(unwatched.system()), std::vector<std::string>{});
  EXPECT_EQ(unwatched.events().at(2), "marker? " + kState);
  EXPECT_EQ(unwatched.events().at(3), "read " + kState);
}

TEST(StateRecovery, RuntimeThatCannotStartGivesAbsentAndTouchesNoFile) {
  FakeStateRecoverySystem s;
  s.files.files[kState] = kJournal;
  s.runtime_fails = true;
  EXPECT_EQ(run_state_recovery(s.system()), std::nullopt);
  EXPECT_TRUE(s.removals().empty());
}

// Out of memory in the middle of the undos: the run ends without a word of
// its own, the caller says what happened, and neither the journal nor the
// meta file has been touched; the journal's lock is let go on the way out.
TEST(StateRecovery, RunningOutOfMemoryInTheRollbackTouchesNoFileAndLetsTheLockGo) {
  FakeStateRecoverySystem s;
  s.locking = true;
  s.files.files[kState] = kJournal;
  s.files.files[kState + ".meta"] = format_meta({2, 5});
  s.during_rollback = [] { throw std::bad_alloc(); };
  EXPECT_THROW((void)run_state_recovery(s.system()), std::bad_alloc);
  EXPECT_TRUE(s.removals().empty());
  EXPECT_EQ(s.events(),
            (std::vector<std::string>{"lock " + kState, "locked", "read " + kState,
                                      "read " + kState + ".meta", "roll back", "unlock"}));
}

}  // namespace
}  // namespace nuv
