#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/recording.h"
#include "support/recording_journal_lock.h"
#include "watchdog/exit_codes.h"
#include "watchdog/recovery_on_request.h"

namespace nuv {
namespace {

using test::RecordingSink;

using namespace std::chrono_literals;

const std::string kState = R"(C:\Users\u\AppData\Roaming\NUV Client\system_state.json)";
const std::string kRunning = "nuv-watchdog: running recovery on request";
const std::string kMonitored =
    "nuv-watchdog: a watchdog is monitoring a running client; recovery not started";
const std::string kBusy =
    "nuv-watchdog: another recovery of this journal is still running; recovery not started";

// Every call in order, so that a test sees what ran under the lock.
struct FakeRecoveryOnRequest {
  std::optional<std::string> state = kState;
  // The answers of the marker probe, one per call; the last repeats.
  std::vector<bool> monitored{false};
  std::vector<bool> pending{false};  // likewise, for the pending marker
  bool lock_had = true;
  Result<RollbackOutcome, NothingToRecover> outcome =
      RollbackOutcome{{}, {JournalKept::kDeleted, 0}};
  bool records_left = false;
  bool adapters_run_out = false;  // of memory: the step throws what exhaustion throws
  bool journal_runs_out = false;
  std::vector<std::string> events;
  std::optional<std::chrono::milliseconds> lock_limit;

  // A marker probe that records its call and gives the next of `answers`.
  std::function<bool(const std::string&)> probe(std::string name, std::vector<bool>& answers) {
    return [this, name = std::move(name), &answers](const std::string& path) {
      events.push_back(name + "? " + path);
      const bool answer = answers.front();
      if (answers.size() > 1) answers.erase(answers.begin());
      return answer;
    };
  }

  RecoveryOnRequestSystem seams() {
    return {
        .state_path = [this] { return state; },
        .watchdog_monitors = probe("marker", monitored),
        .recovery_pending = probe("pending", pending),
        .lock_journal = [this](const std::string& path,
                               std::chrono::milliseconds limit) -> Result<JournalLock, OsError> {
          events.push_back("lock " + path);
          lock_limit = limit;
          if (!lock_had) return unexpected(OsError{258});  // the time ran out
          return test::recording_journal_lock(events);
        },
        .clean_wintun_orphans =
            [this] {
              events.emplace_back("adapters");
              if (adapters_run_out) throw std::bad_alloc();
              return std::uint64_t{2};
            },
        .recover_journal = [this]() -> Result<RollbackOutcome, NothingToRecover> {
          events.emplace_back("journal");
          if (journal_runs_out) throw std::bad_alloc();
          return outcome;
        },
        .journal_has_records =
            [this] {
              events.emplace_back("records?");
              return records_left;
            },
        .out_of_memory = {.system_text = "no memory (os error 8)",
                          .log = [this](std::string_view line) { events.emplace_back(line); }},
    };
  }
};

TEST(RecoveryOnRequest, RunsBothStepsUnderTheLockWaitedForAMinute) {
  FakeRecoveryOnRequest system;
  RecordingSink sink;
  EXPECT_EQ(recover_on_request(sink, system.seams()), kExitClean);
  EXPECT_EQ(system.events,
            (std::vector<std::string>{"marker? " + kState, "pending? " + kState, "lock " + kState,
                                      "marker? " + kState, "pending? " + kState, "adapters",
                                      "journal", "records?", "unlock"}));
  EXPECT_EQ(system.lock_limit, 60'000ms);
  EXPECT_EQ(sink.lines,
            (std::vector<std::string>{kRunning, "nuv-watchdog: cleaned 2 wintun orphan(s)",
                                      "nuv-watchdog: system_state recovery clean"}));
}

// A watchdog that monitors, or one whose client ended and that has not yet
// taken the lock, seen before the wait or after it, and a lock not had in
// time: nothing runs and nothing is touched.
TEST(RecoveryOnRequest, NeverStartsBesideAWatchedClientOrAnotherRecovery) {
  struct Case {
    std::vector<bool> monitored;
    std::vector<bool> pending;
    bool lock_had;
    std::string line;
  };
  for (const auto& c :
       {Case{{true}, {false}, true, kMonitored}, Case{{false, true}, {false}, true, kMonitored},
        Case{{false}, {true}, true, kBusy}, Case{{false}, {false, true}, true, kBusy},
        Case{{false}, {false}, false, kBusy}}) {
    FakeRecoveryOnRequest system;
    system.monitored = c.monitored;
    system.pending = c.pending;
    system.lock_had = c.lock_had;
    RecordingSink sink;
    EXPECT_EQ(recover_on_request(sink, system.seams()), kExitNotStarted) << c.line;
    EXPECT_EQ(sink.lines, std::vector<std::string>{c.line});
    for (const char* step : {"adapters", "journal", "records?"}) {
      EXPECT_EQ(std::count(system.events.begin(), system.events.end(), step), 0) << step;
    }
  }
}

TEST(RecoveryOnRequest, ExitCodeSaysWhetherChangesRemain) {
  struct Case {
    Result<RollbackOutcome, NothingToRecover> outcome;
    bool records_left;
    int code;
    std::string summary;
  };
  const std::string none = "nuv-watchdog: no system_state to recover";
  const std::string clean = "nuv-watchdog: system_state recovery clean";
  const std::vector<Case> cases{
      {unexpected(NothingToRecover::kNoJournal), false, kExitClean, none},
      {unexpected(NothingToRecover::kNoRecords), false, kExitClean, none},
      {unexpected(NothingToRecover::kNoAppdata), false, kExitJournalUnusable, none},
      {unexpected(NothingToRecover::kUnreadable), true, kExitJournalUnusable, none},
      {unexpected(NothingToRecover::kInvalid), true, kExitJournalUnusable, none},
      {unexpected(NothingToRecover::kNoRuntime), true, kExitRecovered, none},
      {RollbackOutcome{{}, {JournalKept::kDeleted, 0}}, false, kExitClean, clean},
      // Meant to be deleted, still there: what is on disk decides.
      {RollbackOutcome{{}, {JournalKept::kDeleted, 0}}, true, kExitRecovered, clean},
      {RollbackOutcome{{}, {JournalKept::kLeftBecauseChanged, 0}}, true, kExitRecovered, clean},
      // Every undo succeeded and the journal is gone, whoever deleted it.
      {RollbackOutcome{{}, {JournalKept::kGone, 0}}, false, kExitClean, clean},
      {RollbackOutcome{{}, {JournalKept::kLeftBecauseChanged, 0}}, false, kExitClean, clean},
      // A watchdog watches a client of the journal: left alone, not recovered.
      {unexpected(NothingToRecover::kWatched), true, kExitNotStarted,
       "nuv-watchdog: system_state left alone: a watchdog is monitoring a running client"},
      {RollbackOutcome{{"route delete failed: x"}, {JournalKept::kRewritten, 1}}, true,
       kExitRecovered,
       "nuv-watchdog: system_state recovery had 1 errors: [\"route delete failed: x\"]"},
      {RollbackOutcome{{"e"}, {JournalKept::kLeftBecauseTemporaryUnwritable, 0}}, true,
       kExitRecovered, "nuv-watchdog: system_state recovery had 1 errors: [\"e\"]"},
  };
  for (const auto& c : cases) {
    FakeRecoveryOnRequest system;
    system.outcome = c.outcome;
    system.records_left = c.records_left;
    RecordingSink sink;
    EXPECT_EQ(recover_on_request(sink, system.seams()), c.code) << c.summary;
    ASSERT_EQ(sink.lines.size(), 3u);
    EXPECT_EQ(sink.lines[2], c.summary);
  }
}

// Without APPDATA there is no journal to guard and no marker to look for:
// the adapters are still tried, as after a crash, and the exit code says
// that the journal could not be found.
TEST(RecoveryOnRequest, WithoutAppdataTriesTheAdaptersAndExitsThree) {
  FakeRecoveryOnRequest system;
  system.state.reset();
  system.outcome = unexpected(NothingToRecover::kNoAppdata);
  RecordingSink sink;
  EXPECT_EQ(recover_on_request(sink, system.seams()), kExitJournalUnusable);
  EXPECT_EQ(system.events, (std::vector<std::string>{"adapters", "journal"}));
  EXPECT_EQ(sink.lines.front(), kRunning);
}

// Running out of memory ends that step, not the request: the journal step
// then left its changes, and the exit code says so.
TEST(RecoveryOnRequest, AStepThatRunsOutOfMemoryEndsAloneAndChangesRemain) {
  FakeRecoveryOnRequest journal;
  journal.journal_runs_out = true;
  RecordingSink sink;
  EXPECT_EQ(recover_on_request(sink, journal.seams()), kExitRecovered);
  EXPECT_EQ(sink.lines,
            (std::vector<std::string>{kRunning, "nuv-watchdog: cleaned 2 wintun orphan(s)",
                                      "nuv-watchdog: system_state recovery had 1 "
                                      "errors: [\"out of memory: no memory (os "
                                      "error 8)\"]"}));
  EXPECT_EQ(journal.events.back(), "unlock");

  FakeRecoveryOnRequest adapters;
  adapters.adapters_run_out = true;
  RecordingSink lines;
  EXPECT_EQ(recover_on_request(lines, adapters.seams()), kExitClean);
  EXPECT_EQ(lines.lines, (std::vector<std::string>{kRunning, "nuv-watchdog: no wintun orphans",
                                                   "nuv-watchdog: system_state recovery clean"}));
  EXPECT_EQ(std::count(adapters.events.begin(), adapters.events.end(),
                       "adapter cleanup ended: out of memory: no memory (os error 8)"),
            1);
}

}  // namespace
}  // namespace nuv
