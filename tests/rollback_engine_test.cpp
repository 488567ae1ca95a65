#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"
#include "common/utf.h"
#include "platform/rollback/rollback_engine.h"
#include "state/journal_format.h"
#include "support/fake_runner.h"
#include "support/memory_state_files.h"
#include "support/result_values.h"

namespace nuv {
namespace {

const std::string kState = R"(C:\a\NUV Client\system_state.json)";
const std::string kMeta = kState + ".meta";

SystemChange named(const std::string& name) { return CustomCommand{name, {name}}; }

struct Rollback {
  test::FakeRunner runner;
  test::MemoryStateFiles files;
  SystemStateStore store;
  std::int64_t now = 1'700'000'000;
  // Runs in each command, as the client relaunched meanwhile would.
  std::function<void(const CommandRequest&)> while_running;
  RollbackOutcome outcome;

  explicit Rollback(const std::vector<SystemChange>& changes, SystemStateMeta meta = {}) {
    store.state_path = kState;
    store.meta_path = kMeta;
    store.changes = changes;
    store.meta = meta;
    files.files[kState] = format_journal(changes);
    files.files[kMeta] = format_meta(meta);
    store.loaded_journal = files.files[kState];
  }
  void fail(const std::string& program) { runner.answers[program] = {1, program + " failed\n"}; }
  std::vector<std::string> run() {
    const CommandRunner fake = runner.runner();
    const CommandRunner run = [&](const CommandRequest& request) {
      if (while_running) while_running(request);
      return fake(request);
    };
    NullLog none;
    outcome = rollback_changes(
        store, UndoSystem{run, {}, {}, {}}, files.seam(), [this] { return now; }, none);
    return outcome.errors.listed();
  }
  [[nodiscard]] bool logged(const std::string& operation) const {
    return std::find(files.log.begin(), files.log.end(), operation) != files.log.end();
  }
};

TEST(RollbackEngine, OrderUndoesNewestFirstAndKeepsTheFailedChange) {
  Rollback r({named("A"), named("B"), named("C")});
  r.fail("B");
  const auto errors = r.run();
  EXPECT_EQ(r.runner.log(), (std::vector<std::string>{"C", "B", "A"}));
  EXPECT_EQ(errors, std::vector<std::string>{"custom rollback 'B' failed: B failed\n"});
  EXPECT_EQ(r.files.files.at(kState), format_journal({named("B")}));
  EXPECT_EQ(r.store.changes, std::vector<SystemChange>{named("B")});
  EXPECT_EQ(r.store.meta, (SystemStateMeta{1, 1'700'000'000}));
  EXPECT_EQ(test::value_of(parse_meta(r.files.files.at(kMeta))), r.store.meta);
  EXPECT_EQ(r.outcome.journal, (JournalOutcome{JournalKept::kRewritten, 1}));
}

TEST(RollbackEngine, OrderSeveralFailuresComeNewestFirstAndGoBackInJournalOrder) {
  Rollback r({named("A"), named("B"), named("C")}, {2, 5});
  r.fail("A");
  r.fail("C");
  EXPECT_EQ(r.run(), (std::vector<std::string>{"custom rollback 'C' failed: C failed\n",
                                               "custom rollback 'A' failed: A failed\n"}));
  EXPECT_EQ(r.files.files.at(kState), format_journal({named("A"), named("C")}));
  EXPECT_EQ(r.store.meta, (SystemStateMeta{3, 1'700'000'000}));
  EXPECT_EQ(r.outcome.journal, (JournalOutcome{JournalKept::kRewritten, 2}));
}

// Undos whose tools flood their standard error: each message is cut as it
// comes, so that the run holds no more than the summary line will show,
// while every failure is counted and every failed change kept.
TEST(RollbackEngine, ErrorsFloodedUndosAreHeldWithinTheSummaryLinesBudget) {
  constexpr std::uint64_t kDropped = 5000;
  struct Case {
    const char* what;
    char flood;
    std::size_t listed;
  };
  for (const Case& c : std::vector<Case>{
           {"printable bytes: the first whole, the rest cut", 'E', 48},
           // Each invalid byte is three bytes of U+FFFD: the first message
           // alone passes 2 MiB and closes the list.
           {"invalid bytes: the first whole, the rest counted", '\xFF', 1},
       }) {
    std::vector<SystemChange> changes;
    changes.reserve(48);
    // Appended rather than "F" + ...: MinGW's GCC 12 at -O3 takes that form
    // for an overlapping copy (-Werror=restrict).
    const auto flood_name = [](int i) {
      std::string name(1, 'F');
      name += std::to_string(i);
      return name;
    };
    for (int i = 0; i < 48; ++i) changes.push_back(named(flood_name(i)));
    Rollback r(changes);
    for (int i = 0; i < 48; ++i) {
      auto& answer = r.runner.answers[flood_name(i)];
      answer = {1, std::string(kCaptureLimit, c.flood)};
      answer.stderr_dropped = kDropped;
    }
    const auto listed = r.run();
    const ErrorList& errors = r.outcome.errors;
    EXPECT_EQ(errors.count(), 48u) << c.what;
    ASSERT_EQ(listed.size(), c.listed) << c.what;
    EXPECT_EQ(errors.unlisted(), 48 - c.listed) << c.what;
    const std::string text = decode_utf8_lossy(std::string(kCaptureLimit, c.flood));
    EXPECT_TRUE(listed[0] == "custom rollback 'F47' failed: " + text + " [5000 more bytes]")
        << c.what;
    for (std::size_t i = 1; i < listed.size(); ++i) {
      const std::string prefix = "custom rollback 'F" + std::to_string(47 - i) + "' failed: ";
      const std::size_t left_out = prefix.size() + text.size() - 256 + kDropped;
      EXPECT_EQ(listed[i], prefix + text.substr(0, 256 - prefix.size()) + " [" +
                               std::to_string(left_out) + " more bytes]")
          << c.what << " " << i;
    }
    // What the list holds: the first message and little more.
    std::size_t held = 0;
    for (const auto& message : errors.listed()) held += message.capacity();
    EXPECT_LT(held, listed[0].size() + std::size_t{64} * 1024) << c.what;
    EXPECT_EQ(r.store.changes.size(), 48u) << c.what;
    EXPECT_EQ(r.outcome.journal, (JournalOutcome{JournalKept::kRewritten, 48})) << c.what;
  }
}

TEST(RollbackEngine, PersistenceCompleteRollbackDeletesBothFilesAndClearsTheMeta) {
  Rollback r({named("A"), SystemProxySet{true, std::nullopt}}, {7, 99});
  EXPECT_TRUE(r.run().empty());
  EXPECT_TRUE(r.files.files.empty());
  EXPECT_EQ(r.store.meta, SystemStateMeta{});
  EXPECT_TRUE(r.store.changes.empty());
  EXPECT_EQ(r.outcome.journal, JournalOutcome{JournalKept::kDeleted});

  Rollback empty({}, {1, 1});
  EXPECT_TRUE(empty.run().empty());
  EXPECT_TRUE(empty.runner.requests.empty());
  EXPECT_TRUE(empty.files.files.empty());
  EXPECT_EQ(empty.store.meta, SystemStateMeta{});
}

TEST(RollbackEngine, PersistenceJournalIsReplacedThroughAFlushedTemporaryFile) {
  Rollback r({named("A"), named("B")});
  r.fail("A");
  r.run();
  // The journal is read again after the temporary file is written, just
  // before the rename.
  EXPECT_EQ(r.files.log, (std::vector<std::string>{"write " + kState + ".tmp", "read " + kState,
                                                   "replace " + kState + ".tmp " + kState,
                                                   "write " + kMeta + ".tmp",
                                                   "replace " + kMeta + ".tmp " + kMeta}));
  EXPECT_FALSE(r.files.files.count(kState + ".tmp"));
}

TEST(RollbackEngine, PersistenceJournalIsWrittenInPlaceWhenItsRenameFails) {
  Rollback r({named("A"), named("B")}, {0, 0});
  r.files.files[kMeta] = "old meta";
  r.fail("A");
  r.files.rename_fails = true;
  r.run();
  EXPECT_EQ(r.files.files.at(kState), format_journal({named("A")}));
  EXPECT_FALSE(r.files.files.count(kState + ".tmp"));
  // The meta file's rename failed too: its temporary file is gone, the old file stays.
  EXPECT_FALSE(r.files.files.count(kMeta + ".tmp"));
  EXPECT_EQ(r.files.files.at(kMeta), "old meta");
  EXPECT_EQ(r.store.meta.partial_rollback_count, 1u);
}

// Someone (a scanner, a relaunched client) holds the journal open without
// delete sharing, so the new journal cannot be renamed over it nor the
// journal deleted. What is on disk afterwards, and what the outcome says,
// agree: the journal is written in place only over bytes it already has,
// and when it cannot be changed at all its meta file stays with it.
TEST(RollbackEngine, PersistenceAJournalThatCannotBeReplacedIsReportedAsItIsOnDisk) {
  const std::vector<SystemChange> journal{named("A"), named("B"), named("C")};
  // The client may write its journal without indentation: then even one
  // record in the watchdog's layout is longer than the journal.
  const std::string compact = R"([{"CustomCommand":{"description":"B","reverse_command":["B"]}}])";
  const std::string rename_refused = "rename refused (os error 32)";
  struct Case {
    const char* name;
    bool open_refused = false;
    bool write_fails = false;
    bool all_undone = false;
    std::optional<std::string> client_text;  // the journal as the client wrote it
    JournalOutcome outcome;
    std::optional<std::string> journal_after;  // absent: as it was
    bool meta_counted = false;
  };
  const std::vector<Case> cases{
      {"rename refused, open refused",
       true,
       false,
       false,
       std::nullopt,
       {JournalKept::kLeftBecauseUnopenable, 1, rename_refused, "open refused (os error 32)", {}},
       std::nullopt,
       false},
      {"rename refused, shorter text",
       false,
       false,
       false,
       std::nullopt,
       {JournalKept::kRewrittenInPlace, 1, rename_refused, {}, {}},
       format_journal({named("B")}),
       true},
      {"rename refused, longer text",
       false,
       false,
       false,
       compact,
       {JournalKept::kLeftBecauseLonger, 1, rename_refused, {}, {}},
       std::nullopt,
       true},
      {"rename refused, write in place fails",
       false,
       true,
       false,
       std::nullopt,
       {JournalKept::kInPlaceWriteFailed, 1, rename_refused, "write failed (os error 1117)", {}},
       std::nullopt,
       true},
      {"delete refused",
       false,
       false,
       true,
       std::nullopt,
       {JournalKept::kDeleteFailed, 0, "held (os error 32)", {}, {}},
       std::nullopt,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rollback r(c.client_text ? std::vector<SystemChange>{named("B")} : journal, {2, 5});
    if (c.client_text) {
      r.files.files[kState] = *c.client_text;
      r.store.loaded_journal = *c.client_text;
      ASSERT_GT(format_journal({named("B")}).size(), c.client_text->size());
    }
    const std::string original = r.files.files.at(kState);
    r.files.held_without_delete_sharing.insert(kState);
    if (c.open_refused) r.files.held_without_write_sharing.insert(kState);
    r.files.in_place_write_fails = c.write_fails;
    if (!c.all_undone) r.fail("B");
    r.run();
    EXPECT_EQ(r.outcome.journal, c.outcome);
    if (c.journal_after) {
      EXPECT_EQ(r.files.files.at(kState), *c.journal_after);
      // Padded to the old length first, so that it is never cut short.
      EXPECT_TRUE(r.logged("padded " + kState + " " + std::to_string(original.size())));
    } else if (!c.write_fails) {
      EXPECT_EQ(r.files.files.at(kState), original);
    }
    if (c.journal_after || c.client_text || c.write_fails) {
      EXPECT_TRUE(r.logged("write in place " + kState));
    } else {
      EXPECT_FALSE(r.logged("padded " + kState + " " + std::to_string(original.size())));
    }
    EXPECT_EQ(
        r.files.files.at(kMeta),
        format_meta(c.meta_counted ? SystemStateMeta{3, 1'700'000'000} : SystemStateMeta{2, 5}));
    EXPECT_FALSE(r.files.files.count(kState + ".tmp"));
    EXPECT_FALSE(r.files.files.count(kMeta + ".tmp"));
  }
}

// The meta file's failure is told apart from the journal's.
TEST(RollbackEngine, PersistenceAMetaFileThatCannotBeReplacedOrDeletedIsReported) {
  Rollback partial({named("A")}, {2, 5});
  partial.files.directories.insert(kMeta + ".tmp");
  partial.fail("A");
  partial.run();
  EXPECT_EQ(partial.outcome.journal,
            (JournalOutcome{JournalKept::kRewritten, 1, {}, {}, "a directory (os error 5)"}));

  Rollback complete({named("A")}, {2, 5});
  complete.files.held_without_delete_sharing.insert(kMeta);
  complete.run();
  EXPECT_EQ(complete.outcome.journal,
            (JournalOutcome{JournalKept::kDeleted, 0, {}, {}, "held (os error 32)"}));

  Rollback no_meta({named("A")}, {0, 0});
  no_meta.files.files.erase(kMeta);
  no_meta.run();
  EXPECT_EQ(no_meta.outcome.journal, JournalOutcome{JournalKept::kDeleted})
      << "a meta file that is not there counts as deleted";
}

TEST(RollbackEngine, PersistenceUnwritableMetaTemporaryLeavesTheMetaFileAsItWas) {
  Rollback r({named("A")});
  r.files.files[kMeta] = "old meta";
  r.files.unwritable.insert(kMeta + ".tmp");
  r.fail("A");
  r.run();
  EXPECT_EQ(r.files.files.at(kMeta), "old meta");
  EXPECT_FALSE(r.files.files.count(kMeta + ".tmp"));
  EXPECT_EQ(
      std::count(r.files.log.begin(), r.files.log.end(), "replace " + kMeta + ".tmp " + kMeta), 0);
}

// Likely a full disk: a rewrite in place could stop half-way and lose every
// record, so the journal keeps them all and the meta file still counts.
TEST(RollbackEngine, PersistenceUnwritableJournalTemporaryLeavesTheJournalAsItWas) {
  Rollback r({named("A"), named("B")}, {2, 5});
  const std::string original = r.files.files.at(kState);
  r.files.unwritable.insert(kState + ".tmp");
  r.fail("A");
  EXPECT_EQ(r.run(), std::vector<std::string>{"custom rollback 'A' failed: A failed\n"});
  EXPECT_EQ(r.files.files.at(kState), original);
  EXPECT_FALSE(r.files.files.count(kState + ".tmp"));
  EXPECT_FALSE(r.logged("write " + kState));
  EXPECT_FALSE(r.logged("remove " + kState));
  EXPECT_EQ(test::value_of(parse_meta(r.files.files.at(kMeta))),
            (SystemStateMeta{3, 1'700'000'000}));
  EXPECT_EQ(r.outcome.journal, JournalOutcome{JournalKept::kLeftBecauseTemporaryUnwritable});
}

TEST(RollbackEngine, PersistenceDirectoryAtTheTemporaryNameLeavesTheJournalByteForByte) {
  Rollback r({named("A"), named("B"), named("C")}, {0, 0});
  const std::string original = r.files.files.at(kState);
  r.files.directories.insert(kState + ".tmp");
  r.fail("B");
  r.run();
  EXPECT_EQ(r.files.files.at(kState), original);
  EXPECT_FALSE(r.logged("write " + kState));
  EXPECT_FALSE(r.logged("replace " + kState + ".tmp " + kState));
  // The meta file goes through a temporary file of its own.
  EXPECT_EQ(test::value_of(parse_meta(r.files.files.at(kMeta))),
            (SystemStateMeta{1, 1'700'000'000}));
  EXPECT_FALSE(r.files.files.count(kMeta + ".tmp"));
  EXPECT_EQ(r.outcome.journal, JournalOutcome{JournalKept::kLeftBecauseTemporaryUnwritable});
}

// A client relaunched during the rollback writes its new session to the
// journal; whatever the rollback's outcome, that journal and the meta file
// are the client's again.
const std::string kNewSession = format_journal({FirewallRuleAdded{"new session"}});

TEST(RollbackEngine, JournalTakenBackCompleteRollbackLeavesTheNewJournalAndTheMeta) {
  Rollback r({named("A"), named("B")}, {2, 5});
  r.while_running = [&r](const CommandRequest& request) {
    if (request.program == "A") r.files.files[kState] = kNewSession;
  };
  EXPECT_TRUE(r.run().empty());
  EXPECT_EQ(r.runner.log(), (std::vector<std::string>{"B", "A"}));
  EXPECT_EQ(r.files.files.at(kState), kNewSession);
  EXPECT_EQ(r.files.files.at(kMeta), format_meta({2, 5}));
  EXPECT_EQ(r.files.files.size(), 2u);
  EXPECT_FALSE(r.logged("remove " + kState));
  EXPECT_FALSE(r.logged("remove " + kMeta));
  EXPECT_EQ(r.outcome.journal, JournalOutcome{JournalKept::kLeftBecauseChanged});
}

TEST(RollbackEngine, JournalTakenBackPartialRollbackLeavesTheNewJournalAndTheMeta) {
  Rollback r({named("A"), named("B")}, {2, 5});
  r.fail("A");
  r.while_running = [&r](const CommandRequest&) { r.files.files[kState] = kNewSession; };
  EXPECT_EQ(r.run(), std::vector<std::string>{"custom rollback 'A' failed: A failed\n"});
  EXPECT_EQ(r.files.files.at(kState), kNewSession);
  EXPECT_EQ(r.files.files.at(kMeta), format_meta({2, 5}));
  EXPECT_EQ(r.files.files.size(), 2u) << "no temporary file is left";
  EXPECT_FALSE(r.logged("replace " + kState + ".tmp " + kState));
  EXPECT_FALSE(r.logged("write " + kMeta + ".tmp"));
  EXPECT_EQ(r.outcome.journal, JournalOutcome{JournalKept::kLeftBecauseChanged});
}

// A journal that someone deleted during the rollback is not written back,
// and its meta file, which would count nothing, goes too; the outcome says
// "gone", not "changed".
TEST(RollbackEngine, JournalTakenBackARemovedJournalIsNotRecreatedAndItsMetaGoesToo) {
  for (const bool partial : {false, true}) {
    Rollback r({named("A"), named("B")}, {2, 5});
    if (partial) r.fail("B");
    r.while_running = [&r](const CommandRequest&) { r.files.files.erase(kState); };
    r.run();
    EXPECT_TRUE(r.files.files.empty()) << partial;
    EXPECT_EQ(r.outcome.journal, (JournalOutcome{JournalKept::kGone, partial ? 1u : 0u}))
        << partial;
  }
}

TEST(RollbackEngine, JournalTakenBackAChangeWhileTheTemporaryFileIsWrittenIsSeen) {
  Rollback r({named("A"), named("B")}, {2, 5});
  r.fail("A");
  r.files.after_write = [&r](const std::string& path) {
    if (path == kState + ".tmp") r.files.files[kState] = kNewSession;
  };
  r.run();
  EXPECT_EQ(r.files.files.at(kState), kNewSession);
  EXPECT_EQ(r.files.files.at(kMeta), format_meta({2, 5}));
  EXPECT_FALSE(r.files.files.count(kState + ".tmp"));
  EXPECT_EQ(r.outcome.journal, JournalOutcome{JournalKept::kLeftBecauseChanged});
}

TEST(RollbackEngine, MetaCountSaturatesAndAClockBefore1970GivesZero) {
  Rollback r({named("A")}, {4294967295u, 12});
  r.fail("A");
  r.now = -86'400;
  r.run();
  EXPECT_EQ(r.store.meta, (SystemStateMeta{4294967295u, 0}));
  EXPECT_EQ(test::value_of(parse_meta(r.files.files.at(kMeta))), r.store.meta);
}

TEST(RollbackEngine, PathsAbsentPathsSkipTheirFileWork) {
  Rollback no_state({named("A")}, {1, 1});
  no_state.store.state_path.reset();
  no_state.fail("A");
  no_state.run();
  EXPECT_EQ(no_state.files.files.at(kState), format_journal({named("A")}));  // untouched original
  EXPECT_EQ(test::value_of(parse_meta(no_state.files.files.at(kMeta))),
            (SystemStateMeta{2, 1'700'000'000}));
  for (const auto& op : no_state.files.log)
    EXPECT_EQ(op.find(kState + " "), std::string::npos) << op;

  Rollback no_meta({named("A")}, {1, 1});
  no_meta.store.meta_path.reset();
  no_meta.fail("A");
  no_meta.run();
  EXPECT_EQ(no_meta.store.meta, (SystemStateMeta{2, 1'700'000'000}));
  EXPECT_EQ(no_meta.files.files.at(kMeta), format_meta({1, 1}));

  Rollback neither({named("A")}, {1, 1});
  neither.store.state_path.reset();
  neither.store.meta_path.reset();
  EXPECT_TRUE(neither.run().empty());
  EXPECT_TRUE(neither.files.log.empty());
  EXPECT_EQ(neither.store.meta, SystemStateMeta{});
  EXPECT_EQ(neither.outcome.journal, JournalOutcome{JournalKept::kNoPath});
}

}  // namespace
}  // namespace nuv
