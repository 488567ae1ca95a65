// Environment variables at the Win32 boundary.
#pragma once

#include <optional>
#include <string>

#include "common/win32.h"
#include "common/wide.h"

namespace nuv {

// The variable's value, possibly empty; nothing when it is not set (or its
// value is not valid UTF-16).
inline std::optional<std::string> environment_variable(const wchar_t* name) {
  std::wstring value(MAX_PATH, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();  // set, and empty
    }
    if (n < value.size()) {
      value.resize(n);
      return from_wide(value);
    }
    value.resize(n);  // too small: n is the size needed
  }
}

}  // namespace nuv
