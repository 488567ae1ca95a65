// Quoting of Windows command lines, ordinary and for batch scripts.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/utf.h"
#include "platform/process/windows_command_line.h"
#include "support/fake_program_search.h"
#include "support/msvcrt_split.h"

namespace nuv {
namespace {

std::u16string quoted(std::string_view arg) {
  auto out = quote_argument(arg);
  EXPECT_TRUE(out.has_value()) << arg;
  return out ? *out : u"<error>";
}

std::u16string batch_quoted(std::string_view arg) {
  auto out = quote_batch_argument(arg);
  EXPECT_TRUE(out.has_value()) << arg;
  return out ? *out : u"<error>";
}

TEST(WindowsCommandLine, QuoteArgumentEnclosesOnlyEmptyArgumentsAndThoseWithSpaceOrTab) {
  EXPECT_EQ(quoted("name=NUV Rule"), u"\"name=NUV Rule\"");
  EXPECT_EQ(quoted(""), u"\"\"");
  EXPECT_EQ(quoted("a\tb"), u"\"a\tb\"");
  EXPECT_EQ(quoted("delete"), u"delete");
  EXPECT_EQ(quoted("C:\\dir\\file"), u"C:\\dir\\file");
}

TEST(WindowsCommandLine, QuoteArgumentEscapesQuotesAndTheBackslashesBeforeThem) {
  EXPECT_EQ(quoted("a\"b"), u"a\\\"b");              // bare, yet escaped
  EXPECT_EQ(quoted("a\\\\\"b"), u"a\\\\\\\\\\\"b");  // 2 backslashes + quote -> 5 + quote
  EXPECT_EQ(quoted("say \"hi\""), u"\"say \\\"hi\\\"\"");
}

TEST(WindowsCommandLine, QuoteArgumentDoublesTrailingBackslashesOnlyWhenEnclosed) {
  EXPECT_EQ(quoted("C:\\Program Files\\"), u"\"C:\\Program Files\\\\\"");
  EXPECT_EQ(quoted("C:\\dir\\"), u"C:\\dir\\");
}

TEST(WindowsCommandLine, QuoteArgumentRefusesNulAndInvalidText) {
  auto nul = quote_argument(std::string_view("a\0b", 3));
  ASSERT_FALSE(nul);
  EXPECT_EQ(nul.error().kind, LaunchErrorKind::kInvalidInput);
  EXPECT_EQ(nul.error().text, "nul byte found in provided data");
  EXPECT_FALSE(quote_argument("\xff"));
}

TEST(WindowsCommandLine, BuildCommandLineStartsWithTheCallersProgramTextInQuotes) {
  auto line =
      build_command_line("netsh", {"advfirewall", "firewall", "delete", "rule", "name=NUV Rule"});
  ASSERT_TRUE(line);
  EXPECT_EQ(*line, u"\"netsh\" advfirewall firewall delete rule \"name=NUV Rule\"");
  auto bare = build_command_line("route", {});
  ASSERT_TRUE(bare);
  EXPECT_EQ(*bare, u"\"route\"");
  EXPECT_FALSE(build_command_line("route", {"ok", std::string("\0", 1)}));
}

// Whatever the arguments, the child's C runtime must read them back exactly.
TEST(WindowsCommandLine, BuildCommandLineRandomArgumentListsSplitBackIntoThemselves) {
  const std::vector<std::string> alphabet = {"a", "Z", " ", "\t", "\"", "\\",
                                             "%", "é", "€", "^",  "&"};
  std::mt19937 random(20261208);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> args(random() % 6);
    for (auto& arg : args) {
      const std::size_t length = random() % 9;
      for (std::size_t i = 0; i < length; ++i) arg += alphabet[random() % alphabet.size()];
    }
    auto line = build_command_line("C:\\Program Files\\tool.exe", args);
    ASSERT_TRUE(line);
    const auto split = test::msvcrt_split(*line);
    ASSERT_EQ(split.size(), args.size() + 1);
    EXPECT_EQ(split[0], u"C:\\Program Files\\tool.exe");
    for (std::size_t i = 0; i < args.size(); ++i) {
      auto expected = utf8_to_utf16(args[i]);
      ASSERT_EQ(split[i + 1], *expected) << "round " << round << ", argument " << i;
    }
  }
}

// The splitter the tests check against, on the examples of the runtime's
// documentation ("Parsing C command-line arguments"), each after a program
// name.
TEST(WindowsCommandLine, MsvcrtSplitReadsTheDocumentedExamples) {
  for (const auto& [line, expected] :
       std::vector<std::pair<std::u16string, std::vector<std::u16string>>>{
           {u"p \"a b c\" d e", {u"p", u"a b c", u"d", u"e"}},
           {u"p \"ab\\\"c\" \"\\\\\" d", {u"p", u"ab\"c", u"\\", u"d"}},
           {u"p a\\\\\\b d\"e f\"g h", {u"p", u"a\\\\\\b", u"de fg", u"h"}},
           {u"p a\\\\\\\"b c d", {u"p", u"a\\\"b", u"c", u"d"}},
           {u"p a\\\\\\\\\"b c\" d e", {u"p", u"a\\\\b c", u"d", u"e"}},
           {u"p a\"b\"\" c d", {u"p", u"ab\" c d"}},
           // The program name: quotes only group, backslashes are plain.
           {u"\"C:\\a b\"c d", {u"C:\\a bc", u"d"}},
           {u"C:\\x\\\"y z\" w", {u"C:\\x\\y z", u"w"}},
           {u"\"\" \"\"", {u"", u""}},
       }) {
    EXPECT_EQ(test::msvcrt_split(line), expected);
  }
}

TEST(WindowsCommandLine, QuoteBatchArgumentWritesSafeArgumentsBare) {
  EXPECT_EQ(batch_quoted("plain-arg_1.txt"), u"plain-arg_1.txt");
  EXPECT_EQ(batch_quoted("#$*+-./:?@\\_x"), u"#$*+-./:?@\\_x");
  EXPECT_EQ(batch_quoted("C:\\dir\\file"), u"C:\\dir\\file");
  EXPECT_EQ(batch_quoted("\xc2\xa0\xc3\xa9"), u"\u00a0\u00e9");  // U+00A0 and up are safe
}

TEST(WindowsCommandLine, QuoteBatchArgumentEnclosesEverythingCmdWouldReadItself) {
  for (const char* arg : {"a b", "a&b", "a|b", "a<b", "a>b", "a^b", "(a)", "a!", "a,b", "a;b",
                          "a=b", "a\x01", "a\x7f", "\xc2\x85"}) {
    const std::u16string out = batch_quoted(arg);
    EXPECT_EQ(out.front(), u'"') << arg;
    EXPECT_EQ(out.back(), u'"') << arg;
  }
  EXPECT_EQ(batch_quoted(""), u"\"\"");
  EXPECT_EQ(batch_quoted("C:\\dir\\"), u"\"C:\\dir\\\\\"");  // trailing backslash forces quotes
}

TEST(WindowsCommandLine, QuoteBatchArgumentDoublesQuotesAndGuardsPercentSigns) {
  EXPECT_EQ(batch_quoted("a\"b"), u"\"a\"\"b\"");
  EXPECT_EQ(batch_quoted("a\\\"b"), u"\"a\\\\\"\"b\"");
  EXPECT_EQ(batch_quoted("%PATH%"), u"\"%%cd:~,%PATH%%cd:~,%\"");
  EXPECT_EQ(batch_quoted("100%\\"), u"\"100%%cd:~,%\\\\\"");
}

TEST(WindowsCommandLine, QuoteBatchArgumentRefusesLineBreaksAndNul) {
  for (const char* arg : {"a\rb", "a\nb", "\r\n"}) {
    auto out = quote_batch_argument(arg);
    ASSERT_FALSE(out) << arg;
    EXPECT_EQ(out.error().kind, LaunchErrorKind::kInvalidInput);
    EXPECT_EQ(out.error().text, "batch file arguments are invalid");
  }
  auto nul = quote_batch_argument(std::string_view("a\0b", 3));
  ASSERT_FALSE(nul);
  EXPECT_EQ(nul.error().text, "nul byte found in provided data");
}

TEST(WindowsCommandLine, BuildBatchCommandLineRunsTheScriptThroughTheSystemCmd) {
  test::FakeProgramSearchSystem system;
  auto launch = build_batch_command_line(u"C:\\scripts\\undo.cmd", {"a b", "%x%", "plain"}, system);
  ASSERT_TRUE(launch);
  EXPECT_EQ(launch->application, u"C:\\Windows\\system32\\cmd.exe");
  EXPECT_EQ(launch->command_line,
            u"cmd.exe /e:ON /v:OFF /d /c \"\"C:\\scripts\\undo.cmd\" \"a b\" "
            u"\"%%cd:~,%x%%cd:~,%\" plain\"");
}

TEST(WindowsCommandLine,
     BuildBatchCommandLineRefusesBadScriptPathsArgumentsAndAMissingSystemFolder) {
  test::FakeProgramSearchSystem system;
  for (const std::u16string script : {u"C:\\a\"b.cmd", u"C:\\scripts\\"}) {
    auto launch = build_batch_command_line(script, {}, system);
    ASSERT_FALSE(launch);
    EXPECT_EQ(launch.error().text, "Windows file names may not contain `\"` or end with `\\`");
  }
  auto broken = build_batch_command_line(u"C:\\undo.bat", {"ok", "two\nlines"}, system);
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.error().text, "batch file arguments are invalid");

  system.system.reset();
  auto no_system = build_batch_command_line(u"C:\\undo.bat", {}, system);
  ASSERT_FALSE(no_system);
  EXPECT_EQ(no_system.error().kind, LaunchErrorKind::kOsError);
  EXPECT_EQ(no_system.error().os_code, 5u);
}

}  // namespace
}  // namespace nuv
