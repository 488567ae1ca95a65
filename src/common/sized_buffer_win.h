// The "fill this buffer, or tell me the size you need" calls of the system,
// asked until the buffer is large enough.
#pragma once

#include <algorithm>
#include <functional>
#include <optional>
#include <string>

#include "common/win32.h"

namespace nuv {

// `ask` gets a buffer and its size in characters and returns what the system
// call returned: the length written, the size needed when the buffer is too
// small, or 0 on failure. Absent on failure, with the system's error code left
// in GetLastError().
inline std::optional<std::wstring> ask_sized(const std::function<DWORD(wchar_t*, DWORD)>& ask) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD n = ask(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(std::max<std::size_t>(n, buffer.size() * 2));
  }
  // The answer kept growing faster than the buffer.
  ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return std::nullopt;
}

}  // namespace nuv
