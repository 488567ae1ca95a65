// Entry points looked up at run time, given their type in one place.
#pragma once

#include <type_traits>

#include "common/win32.h"

namespace nuv {

// `F` is the function type, e.g. `DWORD WINAPI(DWORD, LPWSTR)`. Null stays
// null.
template <class F>
F* function_cast(FARPROC address) {
  static_assert(std::is_function_v<F>, "give the function type, not a pointer to it");
  // GCC warns about a cast between two unrelated function types, but not
  // about one through void(*)(), its spelling of "any function".
  return reinterpret_cast<F*>(reinterpret_cast<void (*)()>(address));
}

// The entry point `name` of `module`, typed; null when the module lacks it
// (with the system's error code left in GetLastError()).
template <class F>
F* proc_address(HMODULE module, const char* name) {
  return function_cast<F>(::GetProcAddress(module, name));
}

}  // namespace nuv
