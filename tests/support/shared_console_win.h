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
    // The console's host process inherits our inheritable handles; were
    // ctest's pipes among them, a host that outlives us would keep ctest
    // waiting for their end.
    const DWORD streams[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE hidden[3] = {};
    for (int i = 0; i < 3; ++i) {
      const HANDLE stream = ::GetStdHandle(streams[i]);
      DWORD flags = 0;
      if (stream != nullptr && stream != INVALID_HANDLE_VALUE &&
          ::GetHandleInformation(stream, &flags) && (flags & HANDLE_FLAG_INHERIT) &&
          ::SetHandleInformation(stream, HANDLE_FLAG_INHERIT, 0)) {
        hidden[i] = stream;
      }
    }
    ::FreeConsole();
    allocated_ = ::AllocConsole() != 0;
    for (const HANDLE stream : hidden) {
      if (stream != nullptr)
        ::SetHandleInformation(stream, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    ::SetConsoleCtrlHandler(ignore, TRUE);
  }
  SharedConsole(const SharedConsole&) = delete;
  SharedConsole& operator=(const SharedConsole&) = delete;
  ~SharedConsole() {
    ::SetConsoleCtrlHandler(ignore, FALSE);
    if (allocated_) ::FreeConsole();
  }

  bool ready() const { return allocated_; }

  // Ctrl+C to every process attached to the console, pressed again every
  // half second until `witness`, a process that the key ends, has ended: a
  // busy Wine now and then loses the event.
  testing::AssertionResult press_ctrl_c_until_it_ends(HANDLE witness) const {
    for (int pressed = 0; pressed < 20; ++pressed) {
      if (!::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        return testing::AssertionFailure()
               << "GenerateConsoleCtrlEvent: error " << ::GetLastError();
      }
      if (::WaitForSingleObject(witness, 500) == WAIT_OBJECT_0) return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "10 s of Ctrl+C did not end the process";
  }

 private:
  static BOOL WINAPI ignore(DWORD event) { return event == CTRL_C_EVENT ? TRUE : FALSE; }
  bool allocated_ = false;
};

}  // namespace nuv::test
