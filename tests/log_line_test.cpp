#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log.h"
#include "common/log_line.h"
#include "support/recording_log.h"

namespace nuv {
namespace {

TEST(LogLine, StampIsUtcWithMillisecondsThenThePidThenTheText) {
  EXPECT_EQ(format_log_line({2026, 12, 9, 7, 5, 3, 42}, 4242, "nuv-watchdog: no wintun orphans"),
            "2026-12-09T07:05:03.042Z [4242] nuv-watchdog: no wintun orphans\n");
  EXPECT_EQ(format_log_line({9999, 1, 31, 23, 59, 59, 999}, 4294967295u, ""),
            "9999-01-31T23:59:59.999Z [4294967295] \n");
}

TEST(LogLine, OneCallIsAlwaysOneLine) {
  EXPECT_EQ(format_log_line({2026, 1, 1, 0, 0, 0, 0}, 1, "a\r\nb \xE2\x80\x94 c"),
            "2026-01-01T00:00:00.000Z [1] a\\r\\nb \xE2\x80\x94 c\n");
}

// A run's detail lines stop at the budget, with one line that says so.
TEST(BudgetedLog, PassesLinesUntilTheBudgetThenSaysSoOnce) {
  test::RecordingLog inner;
  BudgetedLog log(inner, 10);
  log.write("12345");
  log.write("67890");
  log.write("x");
  log.write("y");
  EXPECT_EQ(inner.lines,
            (std::vector<std::string>{
                "12345", "67890",
                "further detail lines of this run are not logged: they passed 10 bytes"}));
}

TEST(LogLine, AddsAtMostTheOverheadToItsText) {
  EXPECT_EQ(format_log_line({9999, 12, 31, 23, 59, 59, 999}, 4294967295u, "").size(),
            kLogLineOverhead);
}

// Charged what the log writes: many short lines, or lines full of line
// breaks, cannot pass the budget several times over.
TEST(BudgetedLog, ChargesEachLineItsStampAndItsLineBreaksTwice) {
  test::RecordingLog inner;
  BudgetedLog log(inner, 30, 10);
  log.write("a\r\n");  // 3 + 2 + 10
  log.write("bc");     // 2 + 10: 27 in all
  log.write("d");      // 11 more would pass 30
  log.write("e");
  EXPECT_EQ(
      inner.lines,
      (std::vector<std::string>{
          "a\r\n", "bc", "further detail lines of this run are not logged: they passed 30 bytes"}));
}

}  // namespace
}  // namespace nuv
