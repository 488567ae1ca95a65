#include <gtest/gtest.h>

#include <map>

#include "state/journal_format.h"
#include "state/state_recovery.h"

namespace nuv {
namespace {

const std::string kJournal = R"([{"FirewallRuleAdded": {"rule_name": "r"}}])";

// A system whose files live in a map, and whose rollback is recorded rather
// than run.
struct FakeSystem {
  std::optional<std::string> appdata = R"(C:\Users\u\AppData\Roaming)";
  std::map<std::string, std::string> files;
  std::vector<std::string> reads, removals;
  int rollbacks = 0;
  bool runtime_fails = false;
  std::vector<std::string> errors;
  SystemStateStore* seen = nullptr;
  std::vector<SystemChange> seen_changes;
  SystemStateMeta seen_meta;
  std::optional<std::string> seen_state_path, seen_meta_path;

  StateRecoverySystem system() {
    return {
        .appdata = [this] { return appdata; },
        .read_file = [this](const std::string& path) -> std::optional<std::string> {
          reads.push_back(path);
          const auto it = files.find(path);
          if (it == files.end()) return std::nullopt;
          return it->second;
        },
        .remove_file = [this](const std::string& path) { removals.push_back(path); },
        .roll_back = [this](SystemStateStore& store) -> std::optional<std::vector<std::string>> {
          if (runtime_fails) return std::nullopt;
          ++rollbacks;
          seen_changes = store.changes;
          seen_meta = store.meta;
          seen_state_path = store.state_path;
          seen_meta_path = store.meta_path;
          return errors;
        },
    };
  }
};

const std::string kState = R"(C:\Users\u\AppData\Roaming\NUV Client\system_state.json)";

TEST(StatePaths, JoinWithOneSeparator) {
  EXPECT_EQ(state_paths("C:\\Users\\u\\AppData\\Roaming").state, kState);
  EXPECT_EQ(state_paths("C:\\Users\\u\\AppData\\Roaming\\").state, kState);
  EXPECT_EQ(state_paths("C:\\Users\\u\\AppData\\Roaming").meta, kState + ".meta");
  EXPECT_EQ(state_paths("").state, "NUV Client\\system_state.json");
}

TEST(StateRecovery, NothingToRecoverGivesAbsentAndTouchesNothing) {
  FakeSystem unset;
  unset.appdata.reset();
  EXPECT_EQ(recover_system_state(unset.system()), std::nullopt);
  EXPECT_TRUE(unset.reads.empty());

  for (const std::string& text : std::vector<std::string>{
           "", "  \n", "[]", " [ ] \r\n", "\xEF\xBB\xBF" + kJournal,
           "[{\"FirewallRuleAdded\": {\"rule_name\": \"\xFF\"}}]",
           "[" + kJournal.substr(1, kJournal.size() - 2) + R"(, {"NewKind": {}}])"}) {
    FakeSystem s;
    s.files[kState] = text;
    s.files[kState + ".meta"] = format_meta({1, 2});
    EXPECT_EQ(recover_system_state(s.system()), std::nullopt) << text;
    EXPECT_EQ(s.reads, std::vector<std::string>{kState})
        << "the meta file is read only for a change";
    EXPECT_EQ(s.rollbacks, 0);
    EXPECT_TRUE(s.removals.empty());
  }

  FakeSystem missing;
  EXPECT_EQ(recover_system_state(missing.system()), std::nullopt);
}

TEST(StateRecovery, EmptyAppdataLooksInTheRelativeFolder) {
  FakeSystem s;
  s.appdata = "";
  s.files["NUV Client\\system_state.json"] = kJournal;
  EXPECT_EQ(recover_system_state(s.system()), std::vector<std::string>{});
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
    FakeSystem s;
    s.files[kState] = kJournal;
    if (meta_text) s.files[kState + ".meta"] = *meta_text;
    ASSERT_TRUE(recover_system_state(s.system()));
    EXPECT_EQ(s.seen_meta, expected);
    EXPECT_EQ(s.seen_changes, std::vector<SystemChange>{FirewallRuleAdded{"r"}});
  }
}

TEST(StateRecovery, CompleteRollbackDeletesTheJournalOnceMore) {
  FakeSystem s;
  s.files[kState] = kJournal;
  EXPECT_EQ(recover_system_state(s.system()), std::vector<std::string>{});
  EXPECT_EQ(s.removals, std::vector<std::string>{kState});
}

TEST(StateRecovery, ErrorsAreHandedBackAndTheJournalKept) {
  FakeSystem s;
  s.files[kState] = kJournal;
  s.errors = {"delete firewall rule failed: x"};
  EXPECT_EQ(recover_system_state(s.system()), s.errors);
  EXPECT_TRUE(s.removals.empty());
}

TEST(StateRecovery, RuntimeThatCannotStartGivesAbsentAndTouchesNoFile) {
  FakeSystem s;
  s.files[kState] = kJournal;
  s.runtime_fails = true;
  EXPECT_EQ(recover_system_state(s.system()), std::nullopt);
  EXPECT_TRUE(s.removals.empty());
}

}  // namespace
}  // namespace nuv
