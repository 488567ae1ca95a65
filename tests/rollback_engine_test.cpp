#include <gtest/gtest.h>

#include <map>

#include "platform/rollback/rollback_engine.h"
#include "state/journal_format.h"
#include "support/fake_runner.h"

namespace nuv {
namespace {

// Files in memory, with failures to order.
class FakeFiles final : public StateFiles {
 public:
  std::map<std::string, std::string> files;
  std::vector<std::string> log;
  std::set<std::string> unwritable;  // paths whose write fails (after creating them empty)
  bool rename_fails = false;

  bool remove(const std::string& path) override {
    log.push_back("remove " + path);
    return files.erase(path) > 0;
  }
  bool write(const std::string& path, std::string_view bytes) override {
    log.push_back("write " + path);
    if (unwritable.count(path)) {
      files[path] = "";
      return false;
    }
    files[path] = std::string(bytes);
    return true;
  }
  bool replace(const std::string& from, const std::string& to) override {
    log.push_back("replace " + from + " " + to);
    if (rename_fails || !files.count(from)) return false;
    files[to] = files[from];
    files.erase(from);
    return true;
  }
};

const std::string kState = R"(C:\a\NUV Client\system_state.json)";
const std::string kMeta = kState + ".meta";

SystemChange named(const std::string& name) { return CustomCommand{name, {name}}; }

struct Rollback {
  test::FakeRunner runner;
  FakeFiles files;
  SystemStateStore store;
  std::int64_t now = 1'700'000'000;

  explicit Rollback(const std::vector<SystemChange>& changes, SystemStateMeta meta = {}) {
    store.state_path = kState;
    store.meta_path = kMeta;
    store.changes = changes;
    store.meta = meta;
    files.files[kState] = format_journal(changes);
    files.files[kMeta] = format_meta(meta);
  }
  void fail(const std::string& program) { runner.answers[program] = {1, program + " failed\n"}; }
  std::vector<std::string> run() {
    return rollback_changes(store, runner.runner(), files, [this] { return now; });
  }
};

TEST(RollbackOrder, UndoesNewestFirstAndKeepsTheFailedChange) {
  Rollback r({named("A"), named("B"), named("C")});
  r.fail("B");
  const auto errors = r.run();
  EXPECT_EQ(r.runner.log(), (std::vector<std::string>{"C", "B", "A"}));
  EXPECT_EQ(errors, std::vector<std::string>{"custom rollback 'B' failed: B failed\n"});
  EXPECT_EQ(r.files.files.at(kState), format_journal({named("B")}));
  EXPECT_EQ(r.store.changes, std::vector<SystemChange>{named("B")});
  EXPECT_EQ(r.store.meta, (SystemStateMeta{1, 1'700'000'000}));
  EXPECT_EQ(parse_meta(r.files.files.at(kMeta)), r.store.meta);
}

TEST(RollbackOrder, SeveralFailuresComeNewestFirstAndGoBackInJournalOrder) {
  Rollback r({named("A"), named("B"), named("C")}, {2, 5});
  r.fail("A");
  r.fail("C");
  EXPECT_EQ(r.run(), (std::vector<std::string>{"custom rollback 'C' failed: C failed\n",
                                               "custom rollback 'A' failed: A failed\n"}));
  EXPECT_EQ(r.files.files.at(kState), format_journal({named("A"), named("C")}));
  EXPECT_EQ(r.store.meta, (SystemStateMeta{3, 1'700'000'000}));
}

TEST(RollbackPersistence, CompleteRollbackDeletesBothFilesAndClearsTheMeta) {
  Rollback r({named("A"), SystemProxySet{true, std::nullopt}}, {7, 99});
  EXPECT_TRUE(r.run().empty());
  EXPECT_TRUE(r.files.files.empty());
  EXPECT_EQ(r.store.meta, SystemStateMeta{});
  EXPECT_TRUE(r.store.changes.empty());

  Rollback empty({}, {1, 1});
  EXPECT_TRUE(empty.run().empty());
  EXPECT_TRUE(empty.runner.requests.empty());
  EXPECT_TRUE(empty.files.files.empty());
  EXPECT_EQ(empty.store.meta, SystemStateMeta{});
}

TEST(RollbackPersistence, JournalIsReplacedThroughAFlushedTemporaryFile) {
  Rollback r({named("A"), named("B")});
  r.fail("A");
  r.run();
  EXPECT_EQ(r.files.log, (std::vector<std::string>{
                             "write " + kState + ".tmp", "replace " + kState + ".tmp " + kState,
                             "write " + kMeta + ".tmp", "replace " + kMeta + ".tmp " + kMeta}));
  EXPECT_FALSE(r.files.files.count(kState + ".tmp"));
}

TEST(RollbackPersistence, JournalIsWrittenInPlaceWhenItsRenameFails) {
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

TEST(RollbackPersistence, UnwritableMetaTemporaryLeavesTheMetaFileAsItWas) {
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

TEST(RollbackPersistence, UnwritableJournalTemporaryFallsBackToWritingInPlace) {
  Rollback r({named("A")});
  r.files.unwritable.insert(kState + ".tmp");
  r.fail("A");
  r.run();
  EXPECT_EQ(r.files.files.at(kState), format_journal({named("A")}));
  EXPECT_FALSE(r.files.files.count(kState + ".tmp"));
}

TEST(RollbackMeta, CountSaturatesAndAClockBefore1970GivesZero) {
  Rollback r({named("A")}, {4294967295u, 12});
  r.fail("A");
  r.now = -86'400;
  r.run();
  EXPECT_EQ(r.store.meta, (SystemStateMeta{4294967295u, 0}));
  EXPECT_EQ(parse_meta(r.files.files.at(kMeta)), r.store.meta);
}

TEST(RollbackPaths, AbsentPathsSkipTheirFileWork) {
  Rollback no_state({named("A")}, {1, 1});
  no_state.store.state_path.reset();
  no_state.fail("A");
  no_state.run();
  EXPECT_EQ(no_state.files.files.at(kState), format_journal({named("A")}));  // untouched original
  EXPECT_EQ(parse_meta(no_state.files.files.at(kMeta)), (SystemStateMeta{2, 1'700'000'000}));
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
}

}  // namespace
}  // namespace nuv
