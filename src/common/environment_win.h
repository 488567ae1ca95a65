// Environment variables at the Win32 boundary.
#pragma once

#include <optional>
#include <string>

#include "common/win32.h"
#include "common/sized_buffer_win.h"
#include "common/wide.h"

namespace nuv {

// The variable's value, possibly empty; absent when it is not set (or its
// value is not valid UTF-16).
inline std::optional<std::string> environment_variable(const wchar_t* name) {
  const auto value = ask_sized([name](wchar_t* buffer, DWORD size) {
    // A variable that is set and empty also gives 0, without an error code
    // of its own.
    ::SetLastError(ERROR_SUCCESS);
    return ::GetEnvironmentVariableW(name, buffer, size);
  });
  if (!value) {
    if (value.error().code == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();  // set, and empty
  }
  return from_wide(*value);
}

}  // namespace nuv
