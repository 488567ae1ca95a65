#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "support/recording.h"
#include "watchdog/exit_codes.h"
#include "watchdog/monitor.h"

namespace nuv {
namespace {

using test::RecordingSink;

using namespace std::chrono_literals;

// A fake of the monitor's system: time passes only when the monitor sleeps
// or waits, the parent ends at a set instant, and every call is logged.
struct FakeMonitorSystem {
  std::chrono::nanoseconds now = 1000h;               // the start instant is arbitrary
  std::chrono::nanoseconds parent_ends = 1'000'000h;  // long after any test ends
  int polls_until_gone = -1;  // ends the parent after this many waits or polls, whatever the time
  ParentOpening opening = ParentOpening::kHeld;
  bool flag = false;
  std::string delete_refusal;  // not empty: the flag's deletion fails with this text
  std::vector<std::string> log;
  std::function<void(std::chrono::milliseconds)> on_sleep;

  // The parent runs for `polls` whole poll intervals after the start.
  void parent_runs_for(int polls) { parent_ends = now + polls * kPollInterval; }

  bool running() { return now < parent_ends && polls_until_gone-- != 0; }

  void pass(std::chrono::milliseconds d) {
    now += d;
    if (on_sleep) on_sleep(d);
  }

  MonitorSystem seams() {
    return {
        .monotonic_now = [this] { return now; },
        .sleep =
            [this](std::chrono::milliseconds d) {
              log.push_back("sleep " + std::to_string(d.count()));
              pass(d);
            },
        .open_parent =
            [this](std::uint32_t pid) {
              log.push_back("open " + std::to_string(pid));
              return now < parent_ends ? opening : ParentOpening::kGone;
            },
        .wait_for_parent =
            [this](std::chrono::milliseconds d) {
              if (now + d < parent_ends && polls_until_gone-- != 0) {
                log.push_back("wait " + std::to_string(d.count()));
                pass(d);
                return true;
              }
              // The wait ends when the parent does, not at its time-out.
              log.emplace_back("wait ended");
              now = std::max(now, parent_ends);
              return false;
            },
        .parent_running =
            [this](std::uint32_t pid) {
              log.push_back("poll " + std::to_string(pid));
              return running();
            },
        .flag_present =
            [this](const std::string& path) {
              log.push_back("flag? " + path);
              return flag;
            },
        .delete_flag = [this](const std::string& path) -> Result<void, std::string> {
          log.push_back("delete " + path);
          if (!delete_refusal.empty()) return unexpected(delete_refusal);
          flag = false;
          return {};
        },
        .raise_monitoring_marker = {},
        .lower_monitoring_marker = {},
        .raise_pending_marker = {},
        .log = {},
    };
  }
};

const WatchdogArguments kArguments{42, "C:\\clean.flag"};

// The parent's exit ends the wait on its handle at once: the settle delay
// starts at the death, not at the next poll.
TEST(MonitorLoop, ParentGoneWithFlagDeletesItAndExitsClean) {
  FakeMonitorSystem system;
  const auto start = system.now;
  system.parent_ends = start + 2 * kPollInterval + 700ms;
  system.flag = true;
  std::chrono::nanoseconds settle_started{};
  system.on_sleep = [&](std::chrono::milliseconds d) {
    if (d == kSettleDelay) settle_started = system.now - d;
  };
  RecordingSink sink;
  int recoveries = 0;
  const int code = run_watchdog(kArguments, system.seams(), sink, [&] { ++recoveries; });

  EXPECT_EQ(code, kExitClean);
  EXPECT_EQ(recoveries, 0);
  EXPECT_EQ(system.log, (std::vector<std::string>{"open 42", "wait 2000", "wait 2000", "wait ended",
                                                  "sleep 500", "flag? C:\\clean.flag",
                                                  "delete C:\\clean.flag"}));
  EXPECT_EQ(settle_started, system.parent_ends);
  EXPECT_EQ(sink.lines,
            (std::vector<std::string>{"nuv-watchdog: monitoring pid=42 clean_flag=C:\\clean.flag",
                                      "nuv-watchdog: parent shut down cleanly (flag present)"}));
}

TEST(MonitorLoop, ParentGoneWithoutFlagRunsRecoveryOnceAfterItsMessage) {
  FakeMonitorSystem system;
  system.parent_ends = system.now;  // no such process: the first opening says so
  RecordingSink sink;
  std::vector<std::string> lines_before_recovery;
  int recoveries = 0;
  const int code = run_watchdog(kArguments, system.seams(), sink, [&] {
    ++recoveries;
    lines_before_recovery = sink.lines;
  });

  EXPECT_EQ(code, kExitRecovered);
  EXPECT_EQ(recoveries, 1);
  EXPECT_EQ(system.log, (std::vector<std::string>{"open 42", "sleep 500", "flag? C:\\clean.flag"}));
  ASSERT_EQ(lines_before_recovery.size(), 2u);
  EXPECT_EQ(lines_before_recovery[1],
            "nuv-watchdog: parent pid=42 disappeared without clean flag \xE2\x80\x94 running "
            "recovery");
  EXPECT_EQ(sink.lines, lines_before_recovery);
}

// A parent that exists but cannot be held (its security descriptor denies
// us, or the system is short of resources) is alive: it is then opened by id
// at every poll, and only a poll that finds no such process, or finds it
// ended, lets the recovery run.
TEST(MonitorLoop, ParentThatCannotBeHeldIsPolledByIdUntilItIsGone) {
  FakeMonitorSystem system;
  system.opening = ParentOpening::kUnopenable;
  system.parent_ends = system.now + 2 * kPollInterval + 700ms;
  RecordingSink sink;
  int recoveries = 0;
  EXPECT_EQ(run_watchdog(kArguments, system.seams(), sink, [&] { ++recoveries; }), kExitRecovered);
  EXPECT_EQ(recoveries, 1);
  EXPECT_EQ(system.log, (std::vector<std::string>{"open 42", "poll 42", "sleep 2000", "poll 42",
                                                  "sleep 2000", "poll 42", "sleep 2000", "poll 42",
                                                  "sleep 500", "flag? C:\\clean.flag"}));
}

TEST(MonitorLoop, FlagCreatedDuringTheSettleDelayCountsAsPresent) {
  FakeMonitorSystem system;
  system.parent_ends = system.now;
  system.on_sleep = [&](std::chrono::milliseconds d) {
    if (d == kSettleDelay) system.flag = true;
  };
  RecordingSink sink;
  int recoveries = 0;
  EXPECT_EQ(run_watchdog(kArguments, system.seams(), sink, [&] { ++recoveries; }), kExitClean);
  EXPECT_EQ(recoveries, 0);
  EXPECT_EQ(system.log.back(), "delete C:\\clean.flag");
}

// Elapsed time of exactly 86 400 s still polls; the first poll after strictly
// more ends the run, with the flag neither checked nor touched. The same for
// a held parent (each poll a wait of 2 s) and one polled by id.
TEST(MonitorLoop, LifetimeEndsAtTheFirstPollStrictlyAfterADay) {
  for (const auto opening : {ParentOpening::kHeld, ParentOpening::kUnopenable}) {
    for (const auto last_sleep : {1ns, 0ns}) {
      FakeMonitorSystem system;
      system.opening = opening;
      system.flag = true;
      int sleeps = 0;
      // 43 200 polls of 2 s reach exactly 86 400 s; the last one may add 1 ns.
      system.on_sleep = [&](std::chrono::milliseconds) {
        if (++sleeps == 43'200) system.now += last_sleep;
      };
      RecordingSink sink;
      int recoveries = 0;
      const int code = run_watchdog(kArguments, system.seams(), sink, [&] { ++recoveries; });

      EXPECT_EQ(code, kExitClean);
      EXPECT_EQ(recoveries, 0);
      const auto polls = std::count_if(system.log.begin(), system.log.end(), [](const auto& s) {
        return s.starts_with("poll") || s.starts_with("wait");
      });
      // With 1 ns over the day after the 43 200th poll, the next one is
      // skipped; at exactly a day it happens, and the reading after it ends it.
      EXPECT_EQ(polls, last_sleep.count() == 1 ? 43'200 : 43'201) << last_sleep.count();
      EXPECT_TRUE(system.flag);
      EXPECT_EQ(std::count_if(system.log.begin(), system.log.end(),
                              [](const std::string& s) { return s.starts_with("flag?"); }),
                0);
      ASSERT_EQ(sink.lines.size(), 2u);
      EXPECT_EQ(sink.lines[1], "nuv-watchdog: max lifetime reached, exiting cleanly");
    }
  }
}

TEST(MonitorLoop, ClockGoingBackwardsNeverCountsAsElapsedTime) {
  for (const auto opening : {ParentOpening::kHeld, ParentOpening::kUnopenable}) {
    FakeMonitorSystem system;
    system.opening = opening;
    system.polls_until_gone = 3;
    system.on_sleep = [&](std::chrono::milliseconds d) { system.now -= 2 * d + 100h; };
    RecordingSink sink;
    EXPECT_EQ(run_watchdog(kArguments, system.seams(), sink, [] {}), kExitRecovered);
  }
}

// The marker is up from the monitoring line until the parent is found gone,
// so that a recovery on request is refused exactly while a client is
// watched, and the pending marker goes up before it comes down, so that one
// of the two is always there; a flag already there at the start is logged, and still counts as
// an orderly shutdown when the parent ends.
TEST(MonitorLoop, MarkerCoversTheWatchAndAStaleFlagIsLogged) {
  struct Case {
    bool stale_flag;
    std::string delete_refusal;
  };
  for (const Case& c :
       {Case{false, ""}, Case{true, ""}, Case{true, "Access is denied. (os error 5)"}}) {
    FakeMonitorSystem system;
    system.parent_runs_for(2);
    system.flag = c.stale_flag;
    system.delete_refusal = c.delete_refusal;
    std::vector<std::string> logged;
    MonitorSystem seams = system.seams();
    RecordingSink sink;
    // The marker is up before the client can read that monitoring began.
    seams.raise_monitoring_marker = [&] {
      system.log.emplace_back("marker up");
      EXPECT_TRUE(sink.lines.empty());
    };
    seams.lower_monitoring_marker = [&] { system.log.emplace_back("marker down"); };
    seams.raise_pending_marker = [&] { system.log.emplace_back("pending up"); };
    seams.log = [&](std::string_view line) { logged.emplace_back(line); };
    const int code = run_watchdog(kArguments, seams, sink, [] {});

    // A flag that cannot be deleted leaves the exit code as it is, and the
    // log says why, since it would make the next crash look like an orderly end.
    EXPECT_EQ(code, c.stale_flag ? kExitClean : kExitRecovered);
    std::vector<std::string> expected{"open 42",     "marker up",  "flag? C:\\clean.flag",
                                      "wait 2000",   "wait ended", "pending up",
                                      "marker down", "sleep 500",  "flag? C:\\clean.flag"};
    if (c.stale_flag) expected.emplace_back("delete C:\\clean.flag");
    EXPECT_EQ(system.log, expected);
    std::vector<std::string> lines;
    if (c.stale_flag) {
      lines.emplace_back(R"(clean flag already present as monitoring begins: ["C:\\clean.flag"])");
    }
    if (!c.delete_refusal.empty()) {
      lines.push_back(R"(clean flag could not be deleted: ["C:\\clean.flag"]: )" +
                      c.delete_refusal);
    }
    EXPECT_EQ(logged, lines);
  }
}

// A refusal goes to the usage sink alone (the log keeps no usage errors);
// every line of an accepted run goes to the other.
TEST(MonitorLoop, WatchdogMainRefusalsPrintOneLineAndExitTwoWithoutPolling) {
  FakeMonitorSystem system;
  RecordingSink usage, run;
  EXPECT_EQ(watchdog_main({u"12a", u"f"}, system.seams(), usage, run, [] {}), kExitUsage);
  EXPECT_EQ(watchdog_main({u"1"}, system.seams(), usage, run, [] {}), kExitUsage);
  EXPECT_TRUE(system.log.empty());
  EXPECT_EQ(usage.lines,
            (std::vector<std::string>{"nuv-watchdog: invalid PID '12a'",
                                      "usage: nuv-watchdog <parent_pid> <clean_flag_path>"}));
  EXPECT_TRUE(run.lines.empty());

  system.parent_ends = system.now;
  EXPECT_EQ(watchdog_main({u"42", u"f"}, system.seams(), usage, run, [] {}), kExitRecovered);
  EXPECT_EQ(usage.lines.size(), 2u);
  ASSERT_EQ(run.lines.size(), 2u);
  EXPECT_EQ(run.lines[0], "nuv-watchdog: monitoring pid=42 clean_flag=f");
}

}  // namespace
}  // namespace nuv
