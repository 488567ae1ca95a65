// How the watchdog's standard input is judged at start-up, against the real
// standard handle. The tools that get it are run in run_command_win_test.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/unique_handle_win.h"
#include "platform/process/child_standard_input_win.h"
#include "support/temporary_file_win.h"

namespace nuv {
namespace {

// The judgement at start-up: a value that names no handle is unusable, with
// the system's reason; none is missing; a file is usable.
TEST(ChildStandardInput, StandardInputIsJudgedByWhetherTheSystemKnowsItsType) {
  const HANDLE saved = ::GetStdHandle(STD_INPUT_HANDLE);
  const UniqueFileHandle file = test::self_deleting_temp_file(L"stdin.txt");
  ASSERT_TRUE(file.valid());
  ::SetStdHandle(STD_INPUT_HANDLE, reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1234)));
  const StandardInputAtStart names_nothing = examine_standard_input();
  ::SetStdHandle(STD_INPUT_HANDLE, nullptr);
  const StandardInputAtStart none = examine_standard_input();
  ::SetStdHandle(STD_INPUT_HANDLE, file.get());
  const StandardInputAtStart a_file = examine_standard_input();
  ::SetStdHandle(STD_INPUT_HANDLE, saved);

  EXPECT_EQ(names_nothing.state, StandardInputAtStart::State::kUnusable);
  EXPECT_EQ(names_nothing.error, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(none.state, StandardInputAtStart::State::kMissing);
  EXPECT_EQ(a_file.state, StandardInputAtStart::State::kUsable);
}

}  // namespace
}  // namespace nuv
