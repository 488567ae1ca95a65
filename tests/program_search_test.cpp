// The fixed search order of program names, against a file system in a table.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/process/program_search.h"
#include "support/fake_program_search.h"

namespace nuv {
namespace {

using test::FakeProgramSearchSystem;

std::u16string resolved(std::string_view program, FakeProgramSearchSystem& system) {
  auto out = resolve_program(program, system);
  EXPECT_TRUE(out.has_value()) << program << ": " << (out ? "" : out.error().text);
  return out ? *out : u"<error>";
}

TEST(ProgramSearch, ResolveProgramOwnFolderThenSystemThenWindowsThenPath) {
  FakeProgramSearchSystem system;
  system.files = {u"C:\\Program Files\\NUV\\netsh.exe", u"C:\\Windows\\system32\\netsh.exe",
                  u"C:\\Windows\\netsh.exe", u"C:\\Tools\\netsh.exe", u"C:\\More Tools\\netsh.exe"};
  const std::vector<std::u16string> expected = {
      u"C:\\Program Files\\NUV\\netsh.exe", u"C:\\Windows\\system32\\netsh.exe",
      u"C:\\Windows\\netsh.exe", u"C:\\Tools\\netsh.exe", u"C:\\More Tools\\netsh.exe"};
  for (const auto& winner : expected) {
    EXPECT_EQ(resolved("netsh", system), winner);
    system.files.erase(winner);  // next time the next folder must win
  }
  auto none = resolve_program("netsh", system);
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().kind, LaunchErrorKind::kNotFound);
  EXPECT_EQ(none.error().text, "program not found");
  EXPECT_EQ(system.asked.back(), u"C:\\More Tools\\netsh.exe");
}

TEST(ProgramSearch, ResolveProgramNeverLooksInTheCurrentFolder) {
  FakeProgramSearchSystem system;
  system.files = {u"netsh.exe", u".\\netsh.exe"};
  EXPECT_FALSE(resolve_program("netsh", system));
  const std::vector<std::u16string> asked = {
      u"C:\\Program Files\\NUV\\netsh.exe", u"C:\\Windows\\system32\\netsh.exe",
      u"C:\\Windows\\netsh.exe", u"C:\\Tools\\netsh.exe", u"C:\\More Tools\\netsh.exe"};
  EXPECT_EQ(system.asked, asked);
}

TEST(ProgramSearch, ResolveProgramAddsExeOnlyToNamesWithoutAFullStop) {
  FakeProgramSearchSystem system;
  system.files = {u"C:\\Tools\\undo.cmd", u"C:\\Tools\\undo.cmd.exe", u"C:\\Tools\\reg.exe"};
  EXPECT_EQ(resolved("undo.cmd", system), u"C:\\Tools\\undo.cmd");
  EXPECT_EQ(resolved("reg", system), u"C:\\Tools\\reg.exe");
  EXPECT_FALSE(resolve_program("reg.", system));  // searched unchanged as "reg."
}

TEST(ProgramSearch, ResolveProgramSkipsCandidatesThatCannotBeDetermined) {
  FakeProgramSearchSystem system;
  system.exe.reset();
  system.system.reset();
  system.windows.reset();
  system.path = u"\"C:\\Quoted;Dir\";;C:\\Tools";
  system.files = {u"C:\\Quoted;Dir\\route.exe", u"C:\\Tools\\reg.exe"};
  EXPECT_EQ(resolved("route", system), u"C:\\Quoted;Dir\\route.exe");
  EXPECT_EQ(resolved("reg", system), u"C:\\Tools\\reg.exe");
  system.path.reset();
  EXPECT_FALSE(resolve_program("reg", system));
}

TEST(ProgramSearch, ResolveProgramTakesPathsAsGiven) {
  FakeProgramSearchSystem system;
  system.files = {u"C:\\undo\\fix.exe", u"scripts/undo.exe"};
  EXPECT_EQ(resolved("C:\\undo\\fix", system), u"C:\\undo\\fix.exe");
  EXPECT_EQ(resolved("C:\\undo\\fix.bat", system), u"C:\\undo\\fix.bat");  // no fix.bat.exe
  EXPECT_EQ(resolved("scripts/undo", system), u"scripts/undo.exe");
  system.asked.clear();
  EXPECT_EQ(resolved("C:\\missing\\tool.EXE", system), u"C:\\missing\\tool.EXE");
  EXPECT_TRUE(system.asked.empty());  // a .exe path is not even looked at
}

TEST(ProgramSearch, ResolveProgramRefusesNamesWithoutAFileNameOrWithNul) {
  FakeProgramSearchSystem system;
  for (std::string_view bad : {"", "C:\\tools\\", "tools/"}) {
    auto out = resolve_program(bad, system);
    ASSERT_FALSE(out) << bad;
    EXPECT_EQ(out.error().kind, LaunchErrorKind::kInvalidInput);
    EXPECT_EQ(out.error().text, "program path has no file name");
  }
  auto bare = resolve_program(std::string_view("net\0sh", 6), system);
  ASSERT_FALSE(bare);
  EXPECT_EQ(bare.error().text, "nul byte found in provided data");
  auto path = resolve_program(std::string_view("C:\\a\0b", 6), system);
  ASSERT_FALSE(path);
  EXPECT_EQ(path.error().text, "strings passed to WinAPI cannot contain NULs");
}

TEST(ProgramSearch, SplitPathVariableQuotesProtectSemicolonsAndEmptyEntriesVanish) {
  EXPECT_EQ(split_path_variable(u";C:\\a;;\"C:\\b;c\";C:\\\"d\";"),
            (std::vector<std::u16string>{u"C:\\a", u"C:\\b;c", u"C:\\d"}));
  EXPECT_TRUE(split_path_variable(u"").empty());
  EXPECT_TRUE(split_path_variable(u"\"\";;").empty());
}

TEST(ProgramSearch, IsBatchProgramLooksAtTheFullPathsExtension) {
  FakeProgramSearchSystem system;
  system.full_paths[u"undo"] = u"C:\\work\\undo.CMD";
  EXPECT_TRUE(*is_batch_program(u"C:\\x\\fix.bat", system));
  EXPECT_TRUE(*is_batch_program(u"undo", system));
  EXPECT_FALSE(*is_batch_program(u"C:\\x\\fix.bat.exe", system));
  EXPECT_FALSE(*is_batch_program(u"C:\\x\\fix.cmdx", system));
  auto failed = is_batch_program(u"<bad>", system);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().os_code, 123u);
}

}  // namespace
}  // namespace nuv
