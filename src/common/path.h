// Windows path text, as plain strings.
#pragma once

#include <string>
#include <string_view>

namespace nuv {

// Joins with one backslash between the parts; an empty base gives the name
// alone (a path relative to the current folder).
inline std::string join_path(std::string_view base, std::string_view name) {
  std::string path(base);
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  path += name;
  return path;
}

}  // namespace nuv
