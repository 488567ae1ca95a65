// Windows path text, as plain strings.
#pragma once

#include <string>
#include <string_view>

namespace nuv {
namespace detail {

template <class Char>
std::basic_string<Char> join_path(std::basic_string_view<Char> base,
                                  std::basic_string_view<Char> name) {
  std::basic_string<Char> path(base);
  if (!path.empty() && path.back() != Char('\\') && path.back() != Char('/')) path += Char('\\');
  path += name;
  return path;
}

}  // namespace detail

// Joins with one backslash between the parts; an empty base gives the name
// alone (a path relative to the current folder). The UTF-16 form is for paths
// on their way to the system.
inline std::string join_path(std::string_view base, std::string_view name) {
  return detail::join_path(base, name);
}
inline std::u16string join_path(std::u16string_view base, std::u16string_view name) {
  return detail::join_path(base, name);
}

}  // namespace nuv
