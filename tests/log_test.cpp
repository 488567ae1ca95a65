#include "common/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recording.h"

namespace nuv {
namespace {

// A run's detail lines stop at the budget, with one line that says so.
TEST(Log, BudgetedLogPassesLinesUntilTheBudgetThenSaysSoOnce) {
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

// Charged what the log writes: many short lines, or lines full of line
// breaks, cannot pass the budget several times over.
TEST(Log, BudgetedLogChargesEachLineItsStampAndItsLineBreaksTwice) {
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
