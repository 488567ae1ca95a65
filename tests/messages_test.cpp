#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "watchdog/message_sink.h"
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
  EXPECT_EQ(help_lines(), (std::vector<std::string>{
                              "usage: nuv-watchdog <parent_pid> <clean_flag_path>",
                              "       nuv-watchdog --recover",
                              "       nuv-watchdog --plan [journal_path]",
                              "       nuv-watchdog --help | /? | --version",
                          }));
  EXPECT_EQ(version_message("1.2.3"), "nuv-watchdog 1.2.3");
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

// A console write never ends in the middle of a surrogate pair: a character
// outside the Basic Multilingual Plane that straddles the limit moves whole
// into the next write.
TEST(ConsoleChunks, NeverSplitASurrogatePair) {
  std::u16string text(0x7FFF, u'a');
  text += u"\U0001F600b";  // a pair at units 0x7FFF and 0x8000
  EXPECT_EQ(console_chunk_length(text.data(), text.size(), 0x8000), 0x7FFFu);
  EXPECT_EQ(console_chunk_length(text.data() + 0x7FFF, 3, 0x8000), 3u);
  const std::u16string plain(0x9000, u'\u2014');
  EXPECT_EQ(console_chunk_length(plain.data(), plain.size(), 0x8000), 0x8000u);
  EXPECT_EQ(console_chunk_length(plain.data(), 10, 0x8000), 10u);
}

}  // namespace
}  // namespace nuv
