// The command line of a batch run, built with the running system's answers.
#include <gtest/gtest.h>

#include <string>

#include "common/win32.h"
#include "platform/process/program_search.h"
#include "platform/process/program_search_system_win.h"
#include "platform/process/windows_command_line.h"
#include "support/checked_win.h"

namespace nuv {
namespace {

// Wine's cmd.exe expands %PATH% in spite of the "%%cd:~," guard, which
// Windows' cmd.exe reads as an empty substring; so the guard is checked in
// the line built with this system's answers, not in what the script echoes.
TEST(WindowsCommandLineSystem, BatchLaunchUsesTheSystemFoldersCmdAndGuardsPercentSigns) {
  const std::wstring script = test::unique_temp_path(L"guard.cmd");
  const ProgramSearchSystem system = windows_program_search();
  const std::u16string script16(script.begin(), script.end());
  auto batch = is_batch_program(script16, system);
  ASSERT_TRUE(batch);
  EXPECT_TRUE(*batch);
  auto launch = build_batch_command_line(script16, {"%PATH%"}, system);
  ASSERT_TRUE(launch);
  wchar_t folder[MAX_PATH];
  const UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
  EXPECT_EQ(launch->application, std::u16string(folder, folder + n) + u"\\cmd.exe");
  EXPECT_EQ(launch->command_line,
            u"cmd.exe /e:ON /v:OFF /d /c \"\"" + script16 + u"\" \"%%cd:~,%PATH%%cd:~,%\"\"");
}

}  // namespace
}  // namespace nuv
