// UTF-8 <-> UTF-16 at the Win32 boundary, where wchar_t is 16 bits wide.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/utf.h"

namespace nuv {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is UTF-16");

inline std::optional<std::wstring> to_wide(std::string_view utf8) {
  auto u16 = utf8_to_utf16(utf8);
  if (!u16) return std::nullopt;
  return std::wstring(u16->begin(), u16->end());
}

inline std::optional<std::string> from_wide(std::wstring_view wide) {
  return utf16_to_utf8(std::u16string(wide.begin(), wide.end()));
}

// A UTF-16 text as the system's calls take it, without a copy.
inline const wchar_t* wide_chars(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace nuv
