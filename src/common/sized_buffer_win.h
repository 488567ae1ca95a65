// The "fill this buffer, or tell me the size you need" calls of the system,
// asked until the buffer is large enough.
#pragma once

#include <algorithm>
#include <functional>
#include <string>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/result.h"

namespace nuv {

// `ask` gets a buffer and its size in characters and returns what the system
// call returned: the length written, the size needed when the buffer is too
// small, or 0 on failure. A failure gives the system's error code.
inline Result<std::wstring, OsError> ask_sized(const std::function<DWORD(wchar_t*, DWORD)>& ask) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD n = ask(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return unexpected(OsError{::GetLastError()});
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(std::max<std::size_t>(n, buffer.size() * 2));
  }
  // The answer kept growing faster than the buffer.
  return unexpected(OsError{ERROR_INSUFFICIENT_BUFFER});
}

}  // namespace nuv
