// A failed system call as a value: what was asked, and the system's error.
#pragma once

#include <string>

#include "common/win32.h"
#include "common/result.h"

namespace nuv::support {

struct Win32Error {
  std::string call;  // the call and its subject, e.g. "CreateProcessW C:\x.exe"
  DWORD code = 0;

  std::string text() const { return call + " failed (error " + std::to_string(code) + ")"; }
};

template <class T>
using Win32Result = Result<T, Win32Error>;

// The calling thread's last error, for the call just made.
inline Unexpected<Win32Error> last_error(std::string call) {
  return unexpected(Win32Error{std::move(call), ::GetLastError()});
}

}  // namespace nuv::support
