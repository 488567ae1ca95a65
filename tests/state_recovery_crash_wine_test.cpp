// The recovery killed at random moments: whatever the moment, the journal it
// leaves behind is the original, byte for byte, or a valid journal of some of
// the original's records in their order, and never unreadable. Otherwise the
// next recovery would find an invalid journal and undo nothing at all.
//
// The journal holds thousands of custom commands: every tenth names a program
// found nowhere (a launch error, and no process is started), the others have
// nothing to run. So the run is quick, the rewritten journal is large, and no
// spurious launch failure of Wine can change the outcome.
//
// Kills are spread over the whole run, and two in three of them are aimed at
// the moment the journal is rewritten: the latest kill that still left the
// original and the earliest one that found it rewritten bracket that moment,
// and the bracket narrows as the trials go on.
//
// The seed is printed; NUV_CRASH_SEED=<n> replays the same delays.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "state/journal_format.h"
#include "support/process_win.h"

namespace nuv::test {
namespace {

using Clock = std::chrono::steady_clock;
using Microseconds = std::chrono::microseconds;

constexpr std::size_t kRecords = 2000;
constexpr std::size_t kFailingEvery = 10;
constexpr std::size_t kFailingPadding = 4000;
constexpr int kKills = 120;
constexpr int kMaxTrials = 3 * kKills;
constexpr DWORD kKilledExitCode = 99;  // the driver never exits with it
constexpr std::uint32_t kDefaultSeed = 20261209;

std::vector<SystemChange> many_changes() {
  std::vector<SystemChange> changes;
  // The program search for a missing program is slow under Wine, so few
  // records fail; their long descriptions make the rewrite long, and with it
  // the window in which a kill can land inside it.
  const std::string padding(kFailingPadding, 'x');
  for (std::size_t i = 0; i < kRecords; ++i) {
    const std::string n = std::to_string(i);
    if (i % kFailingEvery == 0) {
      changes.push_back(CustomCommand{"change " + n + " " + padding, {"nuv-no-such-program-" + n, "undo", n}});
    } else {
      changes.push_back(CustomCommand{"change " + n, {}});
    }
  }
  return changes;
}

std::vector<SystemChange> failing(const std::vector<SystemChange>& changes) {
  std::vector<SystemChange> out;
  for (const auto& change : changes) {
    if (!std::get<CustomCommand>(change).reverse_command.empty()) out.push_back(change);
  }
  return out;
}

// Every record of `part` appears in `whole`, in the same order.
bool is_ordered_subset(const std::vector<SystemChange>& part, const std::vector<SystemChange>& whole) {
  auto at = whole.begin();
  for (const auto& change : part) {
    at = std::find(at, whole.end(), change);
    if (at == whole.end()) return false;
    ++at;
  }
  return true;
}

std::uint32_t seed() {
  if (const char* text = std::getenv("NUV_CRASH_SEED")) {
    return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
  }
  return kDefaultSeed;
}

class StateRecoveryCrash : public testing::Test {
 protected:
  void SetUp() override {
    root_ = unique_temp_path(L"crash");
    std::filesystem::create_directories(std::filesystem::path(root_));
    ASSERT_TRUE(::CopyFileW((program_folder() + L"nuv-recover-state.exe").c_str(), driver().c_str(), FALSE));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(root_), ignored);
  }

  std::wstring driver() const { return root_ + L"\\nuv-recover-state.exe"; }

  // A fresh APPDATA for each run: a killed process may still finish the one
  // system call it was in after its handle is signalled, and must not reach
  // the files of the next run.
  struct Trial {
    std::wstring appdata, journal, meta;
  };
  Trial fresh_trial(const std::string& journal_text) {
    Trial trial;
    trial.appdata = root_ + L"\\run-" + std::to_wstring(runs_++);
    const std::wstring data = trial.appdata + L"\\NUV Client";
    std::filesystem::create_directories(std::filesystem::path(data));
    trial.journal = data + L"\\system_state.json";
    trial.meta = trial.journal + L".meta";
    EXPECT_TRUE(write_file(trial.journal, journal_text));
    return trial;
  }
  static void discard(const Trial& trial) {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(trial.appdata), ignored);
  }

  struct Run {
    bool killed = false;
    std::string output;
    Microseconds took{0};
  };
  // Runs the recovery on the trial's files; terminates it `kill_after` after
  // its start unless it has ended by then.
  Run recover(const Trial& trial, std::optional<Microseconds> kill_after) {
    const auto block = environment_block({{L"APPDATA", trial.appdata}});
    const auto start = Clock::now();
    auto child = start_captured(driver(), L"nuv-recover-state", block);
    Run run;
    // Drained as it comes: the driver prints a line per failed undo, more
    // than a pipe holds.
    std::thread drain([&] { run.output = read_to_end(child.stdout_read.get()); });
    if (kill_after) terminate_at(child.process.get(), start + *kill_after, kKilledExitCode);
    const DWORD code = wait_for_exit(child.process.get());
    run.took = std::chrono::duration_cast<Microseconds>(Clock::now() - start);
    drain.join();
    run.killed = code == kKilledExitCode;
    if (!run.killed) {
      EXPECT_EQ(code, 0u);
    }
    return run;
  }

  std::wstring root_;
  int runs_ = 0;
};

TEST_F(StateRecoveryCrash, AKilledRecoveryLeavesTheJournalWholeOrRewritten) {
  const std::vector<SystemChange> changes = many_changes();
  const std::string original = format_journal(changes);
  const std::vector<SystemChange> expected = failing(changes);
  const std::string rewritten = format_journal(expected);
  const std::string errors_line = "errors " + std::to_string(expected.size()) + "\n";

  // Uninterrupted runs first: the outcome every kill is judged against, and
  // how long a run takes.
  std::vector<Microseconds> durations;
  for (int i = 0; i < 3; ++i) {
    const Trial trial = fresh_trial(original);
    const Run run = recover(trial, std::nullopt);
    ASSERT_FALSE(run.killed);
    ASSERT_EQ(run.output.substr(0, run.output.find('\n') + 1), errors_line);
    ASSERT_EQ(read_file(trial.journal), rewritten);
    const auto meta = parse_meta(read_file(trial.meta).value_or(""));
    ASSERT_TRUE(meta);
    EXPECT_EQ(meta->partial_rollback_count, 1u);
    EXPECT_FALSE(read_file(trial.journal + L".tmp"));
    discard(trial);
    durations.push_back(run.took);
  }
  std::sort(durations.begin(), durations.end());
  const Microseconds whole = durations[1];

  const std::uint32_t rng_seed = seed();
  std::mt19937 random(rng_seed);
  Microseconds last_original{0}, first_rewritten = whole;
  int kills = 0, kept_original = 0, found_rewritten = 0, found_other_subset = 0, finished = 0;
  int trials = 0;
  for (; kills < kKills && trials < kMaxTrials; ++trials) {
    Microseconds low{0}, high = whole;
    if (trials % 3 != 0) {
      const Microseconds margin = whole / 50;
      low = std::max(Microseconds{0}, std::min(last_original, first_rewritten) - margin);
      high = std::max(last_original, first_rewritten) + margin;
    }
    const Microseconds delay{
        std::uniform_int_distribution<long long>(low.count(), high.count())(random)};

    const Trial trial = fresh_trial(original);
    const Run run = recover(trial, delay);
    SCOPED_TRACE("seed " + std::to_string(rng_seed) + ", trial " + std::to_string(trials) +
                 ", kill after " + std::to_string(delay.count()) + " us");
    const auto journal = read_file(trial.journal);
    ASSERT_TRUE(journal) << "the journal is gone";
    bool kept = *journal == original;
    if (!kept) {
      const auto records = parse_journal(*journal);
      ASSERT_TRUE(records) << "unreadable journal of " << journal->size() << " bytes";
      ASSERT_FALSE(records->empty());
      ASSERT_TRUE(is_ordered_subset(*records, changes));
    }
    if (const auto meta_text = read_file(trial.meta)) {
      const auto meta = parse_meta(*meta_text);
      ASSERT_TRUE(meta) << "unreadable meta file";
      EXPECT_EQ(meta->partial_rollback_count, 1u);
    }

    if (!run.killed) {
      ++finished;
      EXPECT_EQ(*journal, rewritten);
    } else {
      ++kills;
      ++(kept ? kept_original : *journal == rewritten ? found_rewritten : found_other_subset);
    }
    if (kept) last_original = std::max(last_original, delay);
    else first_rewritten = std::min(first_rewritten, delay);
    discard(trial);
  }
  const Microseconds aim_low = std::min(last_original, first_rewritten);
  const Microseconds aim_high = std::max(last_original, first_rewritten);
  std::printf("seed %u, a run of %lld ms: %d kills in %d trials; %d left the original journal, %d "
              "the rewritten one, %d another subset of it; %d runs ended before their kill; the "
              "rewrite was bracketed at %lld-%lld ms\n",
              rng_seed, static_cast<long long>(whole.count() / 1000), kills, trials, kept_original,
              found_rewritten, found_other_subset, finished,
              static_cast<long long>(aim_low.count() / 1000),
              static_cast<long long>(aim_high.count() / 1000));
  EXPECT_GE(kills, 100);

  // The recovery run again on a journal that kills left rewritten, to its end.
  const Trial trial = fresh_trial(original);
  ASSERT_FALSE(recover(trial, std::nullopt).killed);
  EXPECT_EQ(read_file(trial.journal), rewritten);
  const auto meta = parse_meta(read_file(trial.meta).value_or(""));
  ASSERT_TRUE(meta);
  EXPECT_EQ(meta->partial_rollback_count, 1u);
}

}  // namespace
}  // namespace nuv::test
