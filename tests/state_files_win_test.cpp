// The journal's file operations on the real file system: what each failure
// reports.
#include <gtest/gtest.h>

#include <string>

#include "common/win32.h"
#include "common/os_error.h"
#include "state/state_files_win.h"

namespace nuv {
namespace {

void expect_invalid_name(const FileError& error, const char* operation) {
  EXPECT_EQ(error.text, os_error_text(ERROR_INVALID_NAME)) << operation;
  EXPECT_FALSE(error.not_found) << operation;
}

// A path that is not UTF-8 never reaches the system, so the code the thread
// last saw belongs to some earlier call: here one that would make the file
// read as merely missing.
TEST(StateFiles, APathThatIsNotUtf8IsAnInvalidNameWhateverTheLastErrorWas) {
  const StateFiles files = windows_state_files();
  const std::string not_utf8 = "C:\\nuv-\xff\\system_state.json";

  ::SetLastError(ERROR_FILE_NOT_FOUND);
  const auto read = files.read(not_utf8);
  ASSERT_FALSE(read);
  expect_invalid_name(read.error(), "read");

  ::SetLastError(ERROR_FILE_NOT_FOUND);
  const auto removed = files.remove(not_utf8);
  ASSERT_FALSE(removed);
  expect_invalid_name(removed.error(), "remove");

  ::SetLastError(ERROR_FILE_NOT_FOUND);
  const auto written = files.write(not_utf8, "{}");
  ASSERT_FALSE(written);
  expect_invalid_name(written.error(), "write");

  ::SetLastError(ERROR_FILE_NOT_FOUND);
  const auto replaced = files.replace(not_utf8, not_utf8 + ".new");
  ASSERT_FALSE(replaced);
  expect_invalid_name(replaced.error(), "replace");
}

}  // namespace
}  // namespace nuv
