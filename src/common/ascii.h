// ASCII case folding, for the names the system compares without regard to
// case only in the ASCII range (program extensions, netsh keywords).
#pragma once

#include <cstddef>
#include <string_view>

namespace nuv {

template <class Char>
constexpr Char ascii_lower(Char ch) {
  return ch >= Char('A') && ch <= Char('Z') ? static_cast<Char>(ch - Char('A') + Char('a')) : ch;
}

template <class Char>
constexpr bool equal_ignoring_ascii_case(std::basic_string_view<Char> a,
                                         std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

}  // namespace nuv
