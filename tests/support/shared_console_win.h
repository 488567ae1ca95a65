// A console of the test's own, shared with the programs it then starts, so
// that the test can press Ctrl+C there (GenerateConsoleCtrlEvent to group 0).
// The test itself ignores the event. Wine cannot send Ctrl+Break this way
// (GenerateConsoleCtrlEvent fails with ERROR_INVALID_HANDLE); Ctrl+C works.
#pragma once

#include <gtest/gtest.h>

#include "common/win32.h"
#include "common/unique_resource.h"

namespace nuv::test {

// The console this process allocated, freed when its owner goes.
struct AllocatedConsoleTraits {
  using Pointer = bool;
  static Pointer invalid() { return false; }
  static void close(Pointer) { ::FreeConsole(); }
};

// A console control handler of this process, removed when its owner goes.
struct ConsoleHandlerTraits {
  using Pointer = PHANDLER_ROUTINE;
  static Pointer invalid() { return nullptr; }
  static void close(Pointer handler) { ::SetConsoleCtrlHandler(handler, FALSE); }
};

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
    console_.reset(::AllocConsole() != 0);
    for (const HANDLE stream : hidden) {
      if (stream != nullptr)
        ::SetHandleInformation(stream, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    ::SetConsoleCtrlHandler(ignore, TRUE);
    handler_.reset(ignore);
  }

  bool ready() const { return console_.valid(); }

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

  UniqueResource<AllocatedConsoleTraits> console_;
  // Last, so that it goes first: the handler is removed before the console.
  UniqueResource<ConsoleHandlerTraits> handler_;
};

}  // namespace nuv::test
