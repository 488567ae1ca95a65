#include "watchdog/messages.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "common/error_list.h"

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

// A flag path or a process id argument with a line break in it still gives
// one line: the characters that break or end a line are escaped as the
// error list escapes them, and every other character, the backslash and the
// quotes included, stays as received.
TEST(Messages, EchoedArgumentsStayOnOneLine) {
  struct Case {
    std::string argument;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"C:\\x\\clean.flag", "C:\\x\\clean.flag"},
      {"a\nb", "a\\nb"},
      {"a\r\nb", "a\\r\\nb"},
      {"tab\there", "tab\\there"},
      {std::string("nul\0", 4), "nul\\0"},
      {"\x01\x1B[2J\x1F", R"(\u{1}\u{1b}[2J\u{1f})"},
      {"del\x7F", "del\\u{7f}"},
      {"next\xC2\x85line", "next\\u{85}line"},
      {"line\xE2\x80\xA8para\xE2\x80\xA9", "line\\u{2028}para\\u{2029}"},
      // Not line breaks: left as they are, unlike in the error list.
      {R"("quoted" 'single' \n)", R"("quoted" 'single' \n)"},
      {"zero\xE2\x80\x8Bwidth \xC2\xA0nbsp \xC3\xA9",
       "zero\xE2\x80\x8Bwidth \xC2\xA0nbsp \xC3\xA9"},
      {"\xC2\x80\xC2\x9F", "\xC2\x80\xC2\x9F"},  // C1 controls other than U+0085
      {"", ""},
  };
  for (const auto& [argument, shown] : cases) {
    EXPECT_EQ(monitoring_message(7, argument), "nuv-watchdog: monitoring pid=7 clean_flag=" + shown)
        << argument;
    EXPECT_EQ(invalid_pid_message(argument), "nuv-watchdog: invalid PID '" + shown + "'")
        << argument;
  }
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

TEST(Messages, SystemStateMessagesHaveTheirExactText) {
  EXPECT_EQ(state_recovery_message(std::nullopt), "nuv-watchdog: no system_state to recover");
  EXPECT_EQ(state_recovery_message(std::vector<std::string>{}),
            "nuv-watchdog: system_state recovery clean");
  EXPECT_EQ(state_recovery_message(std::vector<std::string>{"netsh failed: exit 1\r\n"}),
            "nuv-watchdog: system_state recovery had 1 errors: [\"netsh failed: exit 1\\r\\n\"]");
  EXPECT_EQ(state_recovery_message(std::vector<std::string>{"a", "b \"c\""}),
            "nuv-watchdog: system_state recovery had 2 errors: [\"a\", \"b \\\"c\\\"\"]");
  // The count is true when the list was closed early.
  ErrorList closed;
  closed.add(std::string(std::size_t{3} * 1024 * 1024, 'x'));
  closed.add("not listed");
  closed.add("nor this");
  EXPECT_EQ(state_recovery_message(closed),
            "nuv-watchdog: system_state recovery had 3 errors: [\"" +
                std::string(std::size_t{3} * 1024 * 1024, 'x') + "\"] (2 more errors not listed)");
}

}  // namespace
}  // namespace nuv
