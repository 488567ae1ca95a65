#include <gtest/gtest.h>

#include "watchdog/messages.h"

namespace nuv {
namespace {

TEST(Messages, HaveTheirExactText) {
  EXPECT_EQ(usage_message(), "usage: nuv-watchdog <parent_pid> <clean_flag_path>");
  EXPECT_EQ(invalid_pid_message("12a"), "nuv-watchdog: invalid PID '12a'");
  EXPECT_EQ(monitoring_message(4294967295u, "C:\\x y\\clean.flag"),
            "nuv-watchdog: monitoring pid=4294967295 clean_flag=C:\\x y\\clean.flag");
  EXPECT_EQ(max_lifetime_message(), "nuv-watchdog: max lifetime reached, exiting cleanly");
  EXPECT_EQ(clean_shutdown_message(), "nuv-watchdog: parent shut down cleanly (flag present)");
}

TEST(Messages, DisappearanceUsesTheEmDashInUtf8) {
  const std::string line = parent_disappeared_message(0);
  const std::string expected =
      "nuv-watchdog: parent pid=0 disappeared without clean flag \xE2\x80\x94 running recovery";
  EXPECT_EQ(line, expected);
  // U+2014 is three bytes, with one plain space on each side.
  const auto dash = line.find("\xE2\x80\x94");
  ASSERT_NE(dash, std::string::npos);
  EXPECT_EQ(line.substr(dash - 1, 5), " \xE2\x80\x94 ");
}

}  // namespace
}  // namespace nuv
