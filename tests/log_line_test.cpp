#include "common/log_line.h"

#include <gtest/gtest.h>

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

TEST(LogLine, AddsAtMostTheOverheadToItsText) {
  EXPECT_EQ(format_log_line({9999, 12, 31, 23, 59, 59, 999}, 4294967295u, "").size(),
            kLogLineOverhead);
}

}  // namespace
}  // namespace nuv
