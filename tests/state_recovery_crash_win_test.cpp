// The recovery killed at random moments: whatever the moment, the journal it
// leaves behind is the original, byte for byte, or a valid journal of some of
// the original's records in their order, and never unreadable. Otherwise the
// next recovery would find an invalid journal and undo nothing at all.
//
// The journal holds two thousand custom commands: every tenth names a program
// found nowhere (a launch error, and no process is started), the others have
// nothing to run. So the run is quick and no spurious launch failure of Wine
// can change its outcome.
//
// A third of the kills land anywhere in a run. The others are aimed at the
// file work, which takes a few milliseconds of a run that Wine starts with a
// jitter of a hundred: the test watches the data folder and kills at a random
// moment within the file work's usual length after its first change. A kill
// that ends a process only stops it between two system calls, so the failed
// records are long enough (several MiB in all) for the rewrite to take many
// writes.
//
// The seed is printed; NUV_CRASH_SEED=<n> replays the same delays.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "state/journal_format.h"
#include "support/checked_win.h"
#include "support/client_profile_win.h"
#include "support/scratch_test_win.h"

namespace nuv::test {
namespace {

using Clock = std::chrono::steady_clock;
using Microseconds = std::chrono::microseconds;

constexpr std::size_t kRecords = 2000;
constexpr std::size_t kFailingEvery = 10;
constexpr std::size_t kFailingPadding = 32 * 1024;
constexpr int kKills = 120;
constexpr int kMaxTrials = 2 * kKills;
constexpr DWORD kKilledExitCode = 99;  // the driver never exits with it
constexpr std::uint32_t kDefaultSeed = 20261209;

std::vector<SystemChange> many_changes() {
  std::vector<SystemChange> changes;
  const std::string padding(kFailingPadding, 'x');
  for (std::size_t i = 0; i < kRecords; ++i) {
    const std::string n = std::to_string(i);
    // Each built in place: GCC 12 at -O3 may take the move of a temporary
    // variant for a read of another alternative (-Wmaybe-uninitialized).
    if (i % kFailingEvery == 0) {
      // The bulk goes in an argument, which no message repeats.
      changes.emplace_back(
          std::in_place_type<CustomCommand>, "change " + n,
          std::vector<std::string>{"nuv-no-such-program-" + n, "undo", n, padding});
    } else {
      changes.emplace_back(std::in_place_type<CustomCommand>, "change " + n,
                           std::vector<std::string>{});
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
bool is_ordered_subset(const std::vector<SystemChange>& part,
                       const std::vector<SystemChange>& whole) {
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

// Names, sizes and write times of a folder's files: enough to see a file
// appear, vanish, shrink or grow.
using FolderState = std::vector<std::tuple<std::wstring, std::uint64_t, std::uint64_t>>;

FolderState folder_state(const std::wstring& folder) {
  FolderState state;
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return state;
  do {
    const auto join = [](DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; };
    state.emplace_back(
        found.cFileName, join(found.nFileSizeHigh, found.nFileSizeLow),
        join(found.ftLastWriteTime.dwHighDateTime, found.ftLastWriteTime.dwLowDateTime));
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return state;
}

// When a run is killed: never, a delay after its start, or a delay after
// the first change seen in its data folder.
struct KillPlan {
  enum { kNever, kAfterStart, kAfterFirstChange } from = kNever;
  Microseconds delay{0};
};

class StateRecoveryCrash : public ScratchTest {
 protected:
  StateRecoveryCrash() : ScratchTest(L"crash") {}
  void prepare() override { copy_from_build(L"nuv-recover-state.exe", L"nuv-recover-state.exe"); }

  std::wstring driver() const { return root_ + L"\\nuv-recover-state.exe"; }

  // A fresh APPDATA for each run: a killed process may still finish the one
  // system call it was in after its handle is signalled, and must not reach
  // the files of the next run.
  struct Trial {
    std::wstring appdata, data, journal, meta;
  };
  Trial fresh_trial(const std::string& journal_text) {
    const ClientProfile profile(root_ + L"\\run-" + std::to_wstring(runs_++));
    EXPECT_TRUE(profile.make());
    EXPECT_TRUE(profile.write_journal(journal_text));
    return {profile.appdata(), profile.data_folder(), profile.journal(), profile.meta()};
  }
  // What a run that is still ending holds stays, to go with the folder.
  static void discard(const Trial& trial) { (void)support::remove_tree(trial.appdata); }

  struct Run {
    bool killed = false;
    std::string output;
    Microseconds took{0};
    // Since the start, when the data folder was watched and changed.
    std::optional<Microseconds> first_change, last_change;
  };

  Run recover(const Trial& trial, KillPlan plan) {
    const auto block = environment_block({{L"APPDATA", trial.appdata}});
    FolderState seen = folder_state(trial.data);
    const auto start = Clock::now();
    auto child = start_captured(driver(), L"nuv-recover-state", block);
    const HANDLE process = child.process.get();
    Run run;
    // Drained as it comes: the driver prints a line per failed undo, more
    // than a pipe holds.
    std::thread drain([&] { run.output = read_to_end(child.stdout_read.get()); });
    const auto since_start = [&start] {
      return std::chrono::duration_cast<Microseconds>(Clock::now() - start);
    };

    if (plan.from == KillPlan::kAfterStart) {
      terminate_at(process, start + plan.delay, kKilledExitCode);
    } else {
      // Polled without pause: a change must be seen within the file work.
      while (::WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        FolderState now = folder_state(trial.data);
        if (now == seen) continue;
        run.last_change = since_start();
        if (!run.first_change) run.first_change = run.last_change;
        seen = std::move(now);
        if (plan.from == KillPlan::kAfterFirstChange) {
          terminate_at(process, start + *run.first_change + plan.delay, kKilledExitCode);
          break;
        }
      }
    }
    const DWORD code = wait_for_exit(process);
    run.took = since_start();
    drain.join();
    run.killed = code == kKilledExitCode;
    if (!run.killed) {
      EXPECT_EQ(code, 0u);
    }
    return run;
  }

  int runs_ = 0;
};

TEST_F(StateRecoveryCrash, AKilledRecoveryLeavesTheJournalWholeOrRewritten) {
  const std::vector<SystemChange> changes = many_changes();
  const std::string original = format_journal(changes);
  const std::vector<SystemChange> expected = failing(changes);
  const std::string rewritten = format_journal(expected);
  const std::string errors_line = "errors " + std::to_string(expected.size()) + "\n";

  // Uninterrupted runs first: the outcome every kill is judged against, how
  // long a run takes, and how long its file work.
  std::vector<Microseconds> durations, file_works;
  for (int i = 0; i < 3; ++i) {
    const Trial trial = fresh_trial(original);
    const Run run = recover(trial, {});
    ASSERT_FALSE(run.killed);
    ASSERT_EQ(run.output.substr(0, run.output.find('\n') + 1), errors_line);
    ASSERT_EQ(read_file(trial.journal), rewritten);
    const auto meta = parse_meta(read_file(trial.meta).value_or(""));
    ASSERT_TRUE(meta);
    EXPECT_EQ(meta->partial_rollback_count, 1u);
    EXPECT_FALSE(read_file(trial.journal + L".tmp"));
    discard(trial);
    durations.push_back(run.took);
    ASSERT_TRUE(run.first_change && run.last_change);
    file_works.push_back(*run.last_change - *run.first_change);
  }
  // Medians: now and then Wine stalls a run for tens of milliseconds.
  std::sort(durations.begin(), durations.end());
  std::sort(file_works.begin(), file_works.end());
  const Microseconds whole = durations[1];
  const Microseconds file_work = file_works[1] + Microseconds{1000};  // and a little beyond

  const std::uint32_t rng_seed = seed();
  std::mt19937 random(rng_seed);
  const auto uniform = [&random](Microseconds high) {
    return Microseconds{std::uniform_int_distribution<long long>(0, high.count())(random)};
  };
  int kills = 0, trials = 0, finished = 0;
  int kept_original = 0, found_rewritten = 0, found_other_subset = 0, left_temporary = 0;
  for (; kills < kKills && trials < kMaxTrials; ++trials) {
    const KillPlan plan = trials % 3 == 0
                              ? KillPlan{KillPlan::kAfterStart, uniform(whole)}
                              : KillPlan{KillPlan::kAfterFirstChange, uniform(file_work)};
    const Trial trial = fresh_trial(original);
    const Run run = recover(trial, plan);
    SCOPED_TRACE("seed " + std::to_string(rng_seed) + ", trial " + std::to_string(trials) +
                 ", kill " + std::to_string(plan.delay.count()) + " us after the " +
                 (plan.from == KillPlan::kAfterStart ? "start" : "first change"));

    const auto journal = read_file(trial.journal);
    ASSERT_TRUE(journal) << "the journal is gone";
    const bool kept = *journal == original;
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
      // Caught in the middle of the journal's or the meta file's rewrite.
      if (read_file(trial.journal + L".tmp") || read_file(trial.meta + L".tmp")) ++left_temporary;
    }
    discard(trial);
  }
  std::printf(
      "seed %u, runs of %lld ms with %lld us of file work: %d kills in %d trials left the "
      "original journal %d times, the rewritten one %d times, another subset %d times; "
      "%d kills left a temporary file; %d runs ended before their kill\n",
      rng_seed, static_cast<long long>(whole.count() / 1000),
      static_cast<long long>(file_work.count()), kills, trials, kept_original, found_rewritten,
      found_other_subset, left_temporary, finished);
  EXPECT_GE(kills, 100);

  // Left alone, the recovery leaves the failed records and nothing else.
  const Trial trial = fresh_trial(original);
  const Run run = recover(trial, {});
  ASSERT_FALSE(run.killed);
  EXPECT_EQ(run.output.substr(0, run.output.find('\n') + 1), errors_line);
  EXPECT_EQ(read_file(trial.journal), rewritten);
  const auto meta = parse_meta(read_file(trial.meta).value_or(""));
  ASSERT_TRUE(meta);
  EXPECT_EQ(meta->partial_rollback_count, 1u);
}

}  // namespace
}  // namespace nuv::test
