#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/recording.h"
#include "watchdog/recovery.h"

namespace nuv {
namespace {

using test::RecordingSink;

std::vector<std::string> recover(std::uint64_t orphans,
                                 std::optional<std::vector<std::string>> errors,
                                 std::vector<std::string>* order = nullptr,
                                 NothingToRecover why = NothingToRecover::kNoJournal) {
  RecordingSink sink;
  run_recovery(sink, {
                         .clean_wintun_orphans =
                             [&] {
                               if (order) order->push_back("orphans");
                               return orphans;
                             },
                         .recover_system_state =
                             [&] {
                               if (order)
                                 order->push_back("state (after " +
                                                  std::to_string(sink.lines.size()) + " line)");
                               return errors ? JournalStepResult(ErrorList(*errors))
                                             : JournalStepResult(unexpected(why));
                             },
                         .out_of_memory = {},
                     });
  return sink.lines;
}

TEST(RecoverySequence, BothStepsRunInOrderEachWithItsLine) {
  std::vector<std::string> order;
  EXPECT_EQ(recover(0, std::nullopt, &order),
            (std::vector<std::string>{"nuv-watchdog: no wintun orphans",
                                      "nuv-watchdog: no system_state to recover"}));
  EXPECT_EQ(order, (std::vector<std::string>{"orphans", "state (after 1 line)"}));
}

TEST(RecoverySequence, OrphanCountsAndStateOutcomes) {
  EXPECT_EQ(recover(1, std::vector<std::string>{})[0], "nuv-watchdog: cleaned 1 wintun orphan(s)");
  EXPECT_EQ(recover(3, std::vector<std::string>{})[0], "nuv-watchdog: cleaned 3 wintun orphan(s)");
  EXPECT_EQ(recover(18446744073709551615u, std::nullopt)[0],
            "nuv-watchdog: cleaned 18446744073709551615 wintun orphan(s)");
  EXPECT_EQ(recover(0, std::vector<std::string>{})[1], "nuv-watchdog: system_state recovery clean");
  EXPECT_EQ(recover(0, std::nullopt, nullptr, NothingToRecover::kInvalid)[1],
            "nuv-watchdog: no system_state to recover");
  EXPECT_EQ(recover(0, std::nullopt, nullptr, NothingToRecover::kWatched)[1],
            "nuv-watchdog: system_state left alone: a watchdog is monitoring a running client");
}

TEST(RecoverySequence, ErrorsStayOnOneLineInListNotation) {
  EXPECT_EQ(
      recover(0, std::vector<std::string>{"delete firewall rule failed: Access is denied.\r\n"})[1],
      "nuv-watchdog: system_state recovery had 1 errors: "
      "[\"delete firewall rule failed: Access is denied.\\r\\n\"]");
  EXPECT_EQ(recover(0, std::vector<std::string>{"a \"b\"", "c\\d"})[1],
            "nuv-watchdog: system_state recovery had 2 errors: [\"a \\\"b\\\"\", \"c\\\\d\"]");
}

// Running out of memory ends the step it happened in, never the run: the
// adapter step counts 0 and logs one line; the journal step lists one error.
// Real exhaustion cannot be had on demand, so the steps throw what it throws.
TEST(RecoverySequence, AStepThatRunsOutOfMemoryEndsAloneAndTheOtherStillRuns) {
  const std::string text = "Not enough memory resources are available. (os error 8)";
  const std::string no_orphans = "nuv-watchdog: no wintun orphans";
  const std::string out_of_memory =
      "nuv-watchdog: system_state recovery had 1 errors: [\"out of memory: " + text + "\"]";
  struct Case {
    bool adapters_run_out;
    bool journal_runs_out;
    std::vector<std::string> lines;
  };
  for (const Case& c : std::vector<Case>{
           {true, false, {no_orphans, "nuv-watchdog: system_state recovery clean"}},
           {false, true, {"nuv-watchdog: cleaned 2 wintun orphan(s)", out_of_memory}},
           {true, true, {no_orphans, out_of_memory}},
       }) {
    RecordingSink sink;
    std::vector<std::string> logged;
    int journal_steps = 0;
    run_recovery(
        sink,
        {
            .clean_wintun_orphans = [&]() -> std::uint64_t {
              if (c.adapters_run_out) throw std::bad_alloc();
              return 2;
            },
            .recover_system_state = [&]() -> JournalStepResult {
              ++journal_steps;
              if (c.journal_runs_out) throw std::bad_alloc();
              return ErrorList{};
            },
            .out_of_memory = {.system_text = text,
                              .log = [&](std::string_view line) { logged.emplace_back(line); }},
        });
    EXPECT_EQ(sink.lines, c.lines);
    EXPECT_EQ(journal_steps, 1);
    EXPECT_EQ(logged,
              c.adapters_run_out
                  ? std::vector<std::string>{"adapter cleanup ended: out of memory: " + text}
                  : std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace nuv
