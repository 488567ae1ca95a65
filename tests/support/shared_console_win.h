// A console of the test's own, shared with the programs it then starts, so
// that the test can press Ctrl+C there (GenerateConsoleCtrlEvent to group 0).
// The test itself ignores the event. Wine cannot send Ctrl+Break this way
// (GenerateConsoleCtrlEvent fails with ERROR_INVALID_HANDLE); Ctrl+C works.
#pragma once

#include <gtest/gtest.h>

#include "common/win32.h"

namespace nuv::test {

class SharedConsole {
 public:
  SharedConsole() {
    ::FreeConsole();
    allocated_ = ::AllocConsole() != 0;
    ::SetConsoleCtrlHandler(ignore, TRUE);
  }
  SharedConsole(const SharedConsole&) = delete;
  SharedConsole& operator=(const SharedConsole&) = delete;
  ~SharedConsole() {
    ::SetConsoleCtrlHandler(ignore, FALSE);
    if (allocated_) ::FreeConsole();
  }

  bool ready() const { return allocated_; }

  // Ctrl+C to every process attached to the console.
  testing::AssertionResult press_ctrl_c() const {
    if (::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "GenerateConsoleCtrlEvent: error " << ::GetLastError();
  }

 private:
  static BOOL WINAPI ignore(DWORD event) { return event == CTRL_C_EVENT ? TRUE : FALSE; }
  bool allocated_ = false;
};

}  // namespace nuv::test
