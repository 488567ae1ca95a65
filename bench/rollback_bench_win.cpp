// What the journal recovery costs beyond the commands it runs.
//   engine:  the recovery of a journal of 1000 custom commands that each run
//            a trivial child, against 1000 bare run_command calls of the same
//            child on an event loop of the bench's own, in the same run;
//            rounds alternate which side goes first. Also the recovery's time
//            against the time its own commands spent inside run_command.
//   read-back: the rollback of 1000 route records with parseable destinations,
//            so that every read-back scans the forwarding table, with the
//            machine's read-back against one that answers "cannot tell", in
//            the same run; each undo runs the same trivial child.
//   load:    recover_system_state on a journal of 100 000 custom commands
//            with nothing to run (no process is started), in a child process
//            of its own so that its peak working set is the recovery's alone.
// Usage: rollback_bench [rounds (4)] [records (100000)]
//        rollback_bench --recover <appdata>   (the child of "load")
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/win32.h"
#include "common/log.h"
#include "common/wide.h"
#include "platform/process/command_runner.h"
#include "platform/rollback/read_back_win.h"
#include "platform/rollback/rollback_engine.h"
#include "state/journal_format.h"
#include "state/state_files_win.h"
#include "state/state_recovery.h"
#include "table_row.h"
#include "tools/support/files_win.h"
#include "tools/support/process_win.h"
#include "watchdog/system_state_recovery_win.h"

#include <psapi.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kEngineRecords = 1000;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double mib(std::size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

PROCESS_MEMORY_COUNTERS memory() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  return counters;
}

std::wstring self_path() {
  wchar_t self[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return std::wstring(self, n);
}

std::wstring folder_of(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::exit(1);
}

// The support library's answer, or the benchmark stops.
template <class T>
T or_fail(nuv::support::Win32Result<T> result) {
  if (!result) fail(result.error().text().c_str());
  return std::move(*result);
}

void or_fail(const nuv::support::Win32Result<void>& result) {
  if (!result) fail(result.error().text().c_str());
}

// A fresh APPDATA with the journal in it; returns the APPDATA folder.
std::wstring prepare(const std::wstring& appdata, const std::string& journal) {
  const std::wstring data = appdata + L"\\NUV Client";
  or_fail(nuv::support::make_folders(data));
  or_fail(nuv::support::write_file(data + L"\\system_state.json", journal));
  return appdata;
}

// Wine now and then fails a process creation with ERROR_INTERNAL_ERROR for
// no fault of the caller. Such launches are counted on both sides, not fatal:
// they cost about what a launch costs.
int spurious_failures = 0;
constexpr std::uint32_t kSpuriousCode = 1359;                  // ERROR_INTERNAL_ERROR
constexpr std::string_view kSpuriousText = "(os error 1359)";  // its text in a message

void check(const std::optional<nuv::ErrorList>& errors) {
  if (!errors) fail("nothing was recovered");
  if (errors->unlisted() != 0) fail("more errors than the summary lists");
  for (const auto& error : errors->listed()) {
    if (error.find(kSpuriousText) == std::string::npos) fail(error.c_str());
    ++spurious_failures;
  }
}

// The whole recovery, on this process's APPDATA; every undo must succeed.
double recover(const std::wstring& appdata) {
  ::SetEnvironmentVariableW(L"APPDATA", appdata.c_str());
  const auto start = Clock::now();
  nuv::NullLog log;
  const auto result = nuv::recover_system_state(log);
  const double took = seconds_since(start);
  check(result ? std::optional(*result) : std::nullopt);
  return took;
}

struct EngineFigures {
  double whole = 0;
  double in_commands = 0;  // of it, inside run_command
};

// The recovery as recover_system_state() runs it (the portable run on the
// real files, a runtime of its own), with the time of each command inside
// run_command added up: the rest is the engine's own cost, measured in the
// very same run and so immune to the machine's drift.
EngineFigures recover_timed(const std::wstring& appdata) {
  const std::string base = nuv::from_wide(appdata).value_or("");
  const nuv::StateFiles files = nuv::windows_state_files();
  EngineFigures figures;
  const auto roll_back =
      [&](nuv::SystemStateStore& store) -> nuv::Result<nuv::RollbackOutcome, nuv::OsError> {
    nuv::EventLoop loop;
    const nuv::CommandRunner run = [&](const nuv::CommandRequest& request) {
      const auto start = Clock::now();
      auto out = loop.run_blocking(nuv::run_command(loop, request));
      figures.in_commands += seconds_since(start);
      return out;
    };
    const nuv::WallClock clock = [] {
      return std::chrono::duration_cast<std::chrono::seconds>(
                 std::chrono::system_clock::now().time_since_epoch())
          .count();
    };
    nuv::NullLog none;
    auto outcome =
        nuv::rollback_changes(store, nuv::UndoSystem{run, {}, {}, {}}, files, clock, none);
    loop.shutdown();
    return outcome;
  };
  const auto start = Clock::now();
  const auto errors = nuv::run_state_recovery(nuv::StateRecoverySystem{
      .appdata = [&base] { return std::optional(base); },
      .files = files,
      .roll_back = roll_back,
      .lock_journal = {},
      .journal_locked = {},
      .watchdog_monitors = {},
      .log = {},
  });
  figures.whole = seconds_since(start);
  check(errors);
  return figures;
}

// The rollback of `changes` on a loop of its own, each undo's tool replaced
// by the trivial child, each change read back through `read_back`; seconds.
double rollback_with(const std::vector<nuv::SystemChange>& changes, const std::string& helper,
                     const std::function<nuv::ReadBack(const nuv::SystemChange&)>& read_back) {
  nuv::EventLoop loop;
  const nuv::CommandRunner run = [&](const nuv::CommandRequest&) {
    auto out = loop.run_blocking(nuv::run_command(loop, {helper, {"exit", "0"}}));
    if (!out && out.error().os_code == kSpuriousCode) ++spurious_failures;
    return out;
  };
  nuv::SystemStateStore store;
  store.changes = changes;
  nuv::UndoSystem system{run, {}, {}, {}};
  system.read_back = read_back;
  nuv::NullLog none;
  const auto start = Clock::now();
  const auto outcome = nuv::rollback_changes(
      store, system, {}, [] { return 0; }, none);
  const double took = seconds_since(start);
  loop.shutdown();
  for (const auto& error : outcome.errors.listed()) {
    if (error.find(kSpuriousText) == std::string::npos) fail(error.c_str());
  }
  return took;
}

// On a loop of their own, as the recovery makes one for each run.
double bare_runs(const std::string& program, int runs) {
  const auto start = Clock::now();
  nuv::EventLoop loop;
  for (int i = 0; i < runs; ++i) {
    const auto out = loop.run_blocking(nuv::run_command(loop, {program, {"exit", "0"}}));
    if (!out && out.error().os_code == kSpuriousCode) {
      ++spurious_failures;
    } else if (!out || out->exit_code != 0) {
      fail("run_command failed");
    }
  }
  loop.shutdown();
  return seconds_since(start);
}

// The child of the load measure: prints seconds, peak working set before and
// after the recovery, in MiB.
int recover_and_report(const std::wstring& appdata) {
  const std::size_t before = memory().PeakWorkingSetSize;
  const double took = recover(appdata);
  std::printf("%.6f %.1f %.1f\n", took, mib(before), mib(memory().PeakWorkingSetSize));
  return 0;
}

struct LoadFigures {
  double seconds = 0, peak_before = 0, peak_after = 0;
};

LoadFigures recover_in_child(const std::wstring& appdata) {
  // Its figures come on standard output; its complaints go to our standard error.
  const auto child = or_fail(nuv::support::start_process(
      self_path(), L"rollback_bench --recover \"" + appdata + L"\"",
      nuv::support::chosen(nuv::support::Output::kPipe, nuv::support::Output::kOurs)));
  const std::string text = or_fail(nuv::support::read_to_end(child.stdout_read.get()));
  const DWORD code = or_fail(nuv::support::wait_for_exit(child.process.get()));
  LoadFigures figures;
  if (code != 0 || std::sscanf(text.c_str(), "%lf %lf %lf", &figures.seconds, &figures.peak_before,
                               &figures.peak_after) != 3) {
    fail("the load child failed");
  }
  return figures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"--recover") == 0) return recover_and_report(argv[2]);
  const int rounds = argc > 1 ? std::max(1, ::_wtoi(argv[1])) : 4;
  const int load_records = argc > 2 ? std::max(1, ::_wtoi(argv[2])) : 100'000;

  // Removed with everything in it at the end.
  const auto scratch = or_fail(nuv::support::ScratchFolder::make(
      or_fail(nuv::support::temp_folder()) + L"nuv-rollback-bench-" +
      std::to_wstring(::GetCurrentProcessId())));
  const std::wstring& root = scratch.path();
  const std::wstring helper = folder_of(self_path()) + L"nuv-test-child.exe";
  const std::string helper_utf8 = nuv::from_wide(helper).value_or("");

  // The engine measure.
  std::vector<nuv::SystemChange> changes;
  for (int i = 0; i < kEngineRecords; ++i) {
    changes.push_back(nuv::CustomCommand{"step " + std::to_string(i), {helper_utf8, "exit", "0"}});
  }
  const std::string engine_journal = nuv::format_journal(changes);
  bare_runs(helper_utf8, 5);  // warm both paths up
  recover_timed(
      prepare(root + L"\\warm", nuv::format_journal({changes.begin(), changes.begin() + 5})));
  double bare = 0;
  EngineFigures engine;
  std::vector<double> round_ratios;
  for (int round = 0; round < rounds; ++round) {
    const std::wstring appdata =
        prepare(root + L"\\engine-" + std::to_wstring(round), engine_journal);
    double b = 0;
    EngineFigures e;
    // Each side goes first in every other round, so that a steady drift of
    // the machine's load favours neither.
    if (round % 2 == 0) {
      b = bare_runs(helper_utf8, kEngineRecords);
      e = recover_timed(appdata);
    } else {
      e = recover_timed(appdata);
      b = bare_runs(helper_utf8, kEngineRecords);
    }
    bare += b;
    engine.whole += e.whole;
    engine.in_commands += e.in_commands;
    round_ratios.push_back(e.whole / b);
  }
  const double calls = rounds * kEngineRecords;
  std::printf(
      "engine: %d rounds of a %d-record journal of trivial children: recovery %.2f ms/record, "
      "bare run_command %.2f ms/call, ratio %.3f (target <= 1.1); by round:",
      rounds, kEngineRecords, engine.whole * 1000 / calls, bare * 1000 / calls,
      engine.whole / bare);
  for (const double ratio : round_ratios) std::printf(" %.3f", ratio);
  std::printf(
      "\n        recovery / its own time inside run_command %.4f (%.1f ms of its own in %.1f s); "
      "%d spurious launch failures of Wine\n",
      engine.whole / engine.in_commands, (engine.whole - engine.in_commands) * 1000, engine.whole,
      spurious_failures);

  // The read-back measure: routes that no machine has, so that each
  // read-back scans the whole table and finds them gone.
  std::vector<nuv::SystemChange> routes;
  for (int i = 0; i < kEngineRecords; ++i) {
    routes.push_back(nuv::RouteAdded{
        "10." + std::to_string(200 + i / 256) + "." + std::to_string(i % 256) + ".0/24", "10.8.0.1",
        "utun-nuv", 5u});
  }
  const nuv::ReadBackSystem machine = nuv::windows_read_back_system();
  const auto read_back = [&machine](const nuv::SystemChange& change) {
    return nuv::read_back_change(change, machine);
  };
  const auto cannot_tell = [](const nuv::SystemChange&) { return nuv::ReadBack{}; };
  double with_read_back = 0, without_read_back = 0;
  for (int round = 0; round < rounds; ++round) {
    if (round % 2 == 0) {
      with_read_back += rollback_with(routes, helper_utf8, read_back);
      without_read_back += rollback_with(routes, helper_utf8, cannot_tell);
    } else {
      without_read_back += rollback_with(routes, helper_utf8, cannot_tell);
      with_read_back += rollback_with(routes, helper_utf8, read_back);
    }
  }
  std::printf(
      "read-back: %d rounds of %d route records: %.2f ms/record with the read-back, %.2f "
      "without, ratio %.3f (target <= 1.1)\n",
      rounds, kEngineRecords, with_read_back * 1000 / calls, without_read_back * 1000 / calls,
      with_read_back / without_read_back);

  // The load measure: best time and largest peak of three children.
  std::vector<nuv::SystemChange> empty_commands;
  empty_commands.reserve(load_records);
  for (int i = 0; i < load_records; ++i) {
    empty_commands.push_back(nuv::CustomCommand{"step " + std::to_string(i), {}});
  }
  const std::string load_journal = nuv::format_journal(empty_commands);
  empty_commands = {};
  LoadFigures best{1e300, 0, 0};
  for (int run = 0; run < 3; ++run) {
    const auto figures =
        recover_in_child(prepare(root + L"\\load-" + std::to_wstring(run), load_journal));
    best.seconds = std::min(best.seconds, figures.seconds);
    best.peak_before = std::max(best.peak_before, figures.peak_before);
    best.peak_after = std::max(best.peak_after, figures.peak_after);
  }
  std::printf(
      "load: %d custom commands with nothing to run (%.1f MiB): loaded and rolled back in "
      "%.1f ms (best of 3); peak working set %.1f MiB, %.1f MiB of it before the recovery\n",
      load_records, mib(load_journal.size()), best.seconds * 1000, best.peak_after,
      best.peak_before);

  using nuv::bench::figure;
  nuv::bench::table_row("rollback of " + std::to_string(kEngineRecords) + " trivial commands",
                        figure("%.2f ms/record", engine.whole * 1000 / calls),
                        figure("%.2f ms/call (run_command)", bare * 1000 / calls),
                        figure("%.3f", engine.whole / bare), "<= 1.1");
  nuv::bench::table_row("rollback of " + std::to_string(kEngineRecords) + " routes, each read back",
                        figure("%.2f ms/record", with_read_back * 1000 / calls),
                        figure("%.2f ms/record (no read-back)", without_read_back * 1000 / calls),
                        figure("%.3f", with_read_back / without_read_back), "<= 1.1");
  nuv::bench::table_row(
      "load and roll back " + std::to_string(load_records) + " empty custom commands",
      figure("%.1f ms", best.seconds * 1000), "", "", "");
  nuv::bench::table_row("peak working set of that recovery", figure("%.1f MiB", best.peak_after),
                        figure("%.1f MiB before it", best.peak_before), "", "");
  return 0;
}
