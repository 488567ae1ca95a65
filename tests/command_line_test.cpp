#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "watchdog/command_line.h"

namespace nuv {
namespace {

TEST(CommandLine, ParentPidAcceptsDigitsWithOptionalPlus) {
  EXPECT_EQ(parse_parent_pid("+1234"), 1234u);
  EXPECT_EQ(parse_parent_pid("1234"), 1234u);
  EXPECT_EQ(parse_parent_pid("0"), 0u);
  EXPECT_EQ(parse_parent_pid("+0"), 0u);
  EXPECT_EQ(parse_parent_pid("4294967295"), 4294967295u);
  EXPECT_EQ(parse_parent_pid("0004294967295"), 4294967295u);
}

TEST(CommandLine, ParentPidRefusesEverythingElse) {
  for (const char* text :
       {"-5", "", "+", "-", "12a", " 1", "1 ", "4294967296", "99999999999999999999", "++1", "+-1",
        "0x10", "1.0", "\xD9\xA1" /* Arabic-Indic digit one */}) {
    EXPECT_FALSE(parse_parent_pid(text)) << '"' << text << '"';
  }
}

TEST(CommandLine, NeedsExactlyTwoArguments) {
  for (const auto& arguments : {std::vector<std::u16string>{}, {u"1"}, {u"1", u"f", u"x"}}) {
    const auto parsed = parse_command_line(arguments);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error().message, "usage: nuv-watchdog <parent_pid> <clean_flag_path>");
  }
}

TEST(CommandLine, QuotesAnInvalidPidUnchanged) {
  for (const auto& [argument, shown] : {std::pair{u"-5", "-5"},
                                        {u"", ""},
                                        {u" 1", " 1"},
                                        {u"4294967296", "4294967296"},
                                        {u"\u00e9", "\xC3\xA9"}}) {
    const auto parsed = parse_command_line({argument, u"flag"});
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error().message, std::string("nuv-watchdog: invalid PID '") + shown + "'");
  }
}

TEST(CommandLine, RefusesArgumentsThatAreNotUnicode) {
  const std::u16string lone_surrogate{u'C', u':', 0xD800};
  auto parsed = parse_command_line({u"12", lone_surrogate});
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error().message, "nuv-watchdog: argument 2 is not valid Unicode text");

  parsed = parse_command_line({lone_surrogate, u"flag"});
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error().message, "nuv-watchdog: argument 1 is not valid Unicode text");
}

TEST(CommandLine, KeepsTheFlagPathExactly) {
  const auto parsed = parse_command_line({u"+77", u"rel\\dir with space\\\u00e9.flag"});
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->parent_pid, 77u);
  EXPECT_EQ(parsed->clean_flag, "rel\\dir with space\\\xC3\xA9.flag");
}

// A keyword is matched exactly as the first argument; a list that starts
// with one and does not fit its form is a usage error, never a process id.
TEST(CommandLine, InvocationKeywordFormsAndTheirMisfits) {
  EXPECT_TRUE(std::holds_alternative<RecoverRequest>(*parse_invocation({u"--recover"})));
  EXPECT_TRUE(std::holds_alternative<HelpRequest>(*parse_invocation({u"--help"})));
  EXPECT_TRUE(std::holds_alternative<HelpRequest>(*parse_invocation({u"/?"})));
  EXPECT_TRUE(std::holds_alternative<VersionRequest>(*parse_invocation({u"--version"})));
  const auto plan = parse_invocation({u"--plan"});
  ASSERT_TRUE(plan);
  EXPECT_EQ(std::get<PlanRequest>(*plan).journal_path, std::nullopt);
  const auto checked = parse_invocation({u"--plan", u"C:\\x y\\j\u00e9.json"});
  ASSERT_TRUE(checked);
  EXPECT_EQ(std::get<PlanRequest>(*checked).journal_path, "C:\\x y\\j\xC3\xA9.json");
  const auto watched = parse_invocation({u"+7", u"f"});
  ASSERT_TRUE(watched);
  EXPECT_EQ(std::get<WatchdogArguments>(*watched).parent_pid, 7u);

  for (const auto& arguments : std::vector<std::vector<std::u16string>>{{u"--recover", u"x"},
                                                                        {u"--recover", u"1"},
                                                                        {u"--plan", u"a", u"b"},
                                                                        {u"--help", u"x"},
                                                                        {u"/?", u"--help"},
                                                                        {u"--version", u"1"},
                                                                        {u"--Recover"},
                                                                        {u"-recover"},
                                                                        {u"/?x"},
                                                                        {u"--plan "},
                                                                        {}}) {
    const auto parsed = parse_invocation(arguments);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error().message, "usage: nuv-watchdog <parent_pid> <clean_flag_path>");
  }
  // A keyword in the monitoring form's place is still no process id.
  const auto parsed = parse_invocation({u"--Recover", u"f"});
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error().message, "nuv-watchdog: invalid PID '--Recover'");

  const std::u16string lone_surrogate{u'C', 0xD800};
  const auto unreadable = parse_invocation({u"--plan", lone_surrogate});
  ASSERT_FALSE(unreadable);
  EXPECT_EQ(unreadable.error().message, "nuv-watchdog: argument 2 is not valid Unicode text");
}

}  // namespace
}  // namespace nuv
