#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "watchdog/exit_codes.h"
#include "watchdog/monitor.h"

namespace nuv {
namespace {

using namespace std::chrono_literals;

struct RecordingSink final : MessageSink {
  void write_line(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

// A fake system: time passes only when the monitor sleeps, the parent runs for
// a set number of polls, and every call is logged.
struct FakeSystem {
  std::chrono::nanoseconds now = 1000h;  // the start instant is arbitrary
  int polls_left_running = 0;
  bool flag = false;
  std::vector<std::string> log;
  std::function<void(std::chrono::milliseconds)> on_sleep;

  MonitorSeams seams() {
    return {
        .monotonic_now = [this] { return now; },
        .sleep =
            [this](std::chrono::milliseconds d) {
              log.push_back("sleep " + std::to_string(d.count()));
              now += d;
              if (on_sleep) on_sleep(d);
            },
        .parent_running =
            [this](std::uint32_t pid) {
              log.push_back("poll " + std::to_string(pid));
              return polls_left_running-- > 0;
            },
        .flag_present =
            [this](const std::string& path) {
              log.push_back("flag? " + path);
              return flag;
            },
        .delete_flag =
            [this](const std::string& path) {
              log.push_back("delete " + path);
              flag = false;
            },
    };
  }
};

const WatchdogArguments kArguments{42, "C:\\clean.flag"};

TEST(MonitorLoop, ParentGoneWithFlagDeletesItAndExitsClean) {
  FakeSystem system;
  system.polls_left_running = 2;
  system.flag = true;
  RecordingSink sink;
  int recoveries = 0;
  const int code = run_watchdog(kArguments, system.seams(), sink, [&] { ++recoveries; });

  EXPECT_EQ(code, kExitClean);
  EXPECT_EQ(recoveries, 0);
  EXPECT_EQ(system.log, (std::vector<std::string>{"poll 42", "sleep 2000", "poll 42", "sleep 2000",
                                                  "poll 42", "sleep 500", "flag? C:\\clean.flag",
                                                  "delete C:\\clean.flag"}));
  EXPECT_EQ(sink.lines,
            (std::vector<std::string>{"nuv-watchdog: monitoring pid=42 clean_flag=C:\\clean.flag",
                                      "nuv-watchdog: parent shut down cleanly (flag present)"}));
}

TEST(MonitorLoop, ParentGoneWithoutFlagRunsRecoveryOnceAfterItsMessage) {
  FakeSystem system;
  RecordingSink sink;
  std::vector<std::string> lines_before_recovery;
  int recoveries = 0;
  const int code = run_watchdog(kArguments, system.seams(), sink, [&] {
    ++recoveries;
    lines_before_recovery = sink.lines;
  });

  EXPECT_EQ(code, kExitRecovered);
  EXPECT_EQ(recoveries, 1);
  EXPECT_EQ(system.log, (std::vector<std::string>{"poll 42", "sleep 500", "flag? C:\\clean.flag"}));
  ASSERT_EQ(lines_before_recovery.size(), 2u);
  EXPECT_EQ(lines_before_recovery[1],
            "nuv-watchdog: parent pid=42 disappeared without clean flag \xE2\x80\x94 running "
            "recovery");
  EXPECT_EQ(sink.lines, lines_before_recovery);
}

TEST(MonitorLoop, FlagCreatedDuringTheSettleDelayCountsAsPresent) {
  FakeSystem system;
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
// more ends the run, with the flag neither checked nor touched.
TEST(MonitorLoop, LifetimeEndsAtTheFirstPollStrictlyAfterADay) {
  for (const auto last_sleep : {1ns, 0ns}) {
    FakeSystem system;
    system.polls_left_running = 1'000'000;
    system.flag = true;
    int sleeps = 0;
    // 43 200 sleeps of 2 s reach exactly 86 400 s; the last one may add 1 ns.
    system.on_sleep = [&](std::chrono::milliseconds) {
      if (++sleeps == 43'200) system.now += last_sleep;
    };
    RecordingSink sink;
    int recoveries = 0;
    const int code = run_watchdog(kArguments, system.seams(), sink, [&] { ++recoveries; });

    EXPECT_EQ(code, kExitClean);
    EXPECT_EQ(recoveries, 0);
    const auto polls = std::count_if(system.log.begin(), system.log.end(),
                                     [](const std::string& s) { return s.starts_with("poll"); });
    // With 1 ns over the day after the 43 200th sleep, that poll is skipped;
    // at exactly a day it happens, and the reading after the next sleep ends it.
    EXPECT_EQ(polls, last_sleep.count() == 1 ? 43'200 : 43'201) << last_sleep.count();
    EXPECT_TRUE(system.flag);
    EXPECT_EQ(std::count_if(system.log.begin(), system.log.end(),
                            [](const std::string& s) { return s.starts_with("flag?"); }),
              0);
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_EQ(sink.lines[1], "nuv-watchdog: max lifetime reached, exiting cleanly");
  }
}

TEST(MonitorLoop, ClockGoingBackwardsNeverCountsAsElapsedTime) {
  FakeSystem system;
  system.polls_left_running = 3;
  system.on_sleep = [&](std::chrono::milliseconds d) { system.now -= 2 * d + 100h; };
  RecordingSink sink;
  EXPECT_EQ(run_watchdog(kArguments, system.seams(), sink, [] {}), kExitRecovered);
}

TEST(WatchdogMain, RefusalsPrintOneLineAndExitTwoWithoutPolling) {
  FakeSystem system;
  RecordingSink sink;
  EXPECT_EQ(watchdog_main({u"12a", u"f"}, system.seams(), sink, [] {}), kExitUsage);
  EXPECT_EQ(watchdog_main({u"1"}, system.seams(), sink, [] {}), kExitUsage);
  EXPECT_TRUE(system.log.empty());
  EXPECT_EQ(sink.lines,
            (std::vector<std::string>{"nuv-watchdog: invalid PID '12a'",
                                      "usage: nuv-watchdog <parent_pid> <clean_flag_path>"}));
}

}  // namespace
}  // namespace nuv
