// Text helpers of the support library.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/wide.h"

namespace nuv::support {

// For messages: a wide text in UTF-8, or a marker when it is not UTF-16.
inline std::string narrow(const std::wstring& wide) {
  return from_wide(wide).value_or("<not UTF-16>");
}

// The same the other way: a UTF-8 text as wide text, or a marker when it is
// not UTF-8.
inline std::wstring widen(std::string_view utf8) { return to_wide(utf8).value_or(L"<not UTF-8>"); }

// The lines of a text, each without its line feed; a last piece without a
// line feed is not a line.
inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    out.push_back(text.substr(start, end - start));
  }
  return out;
}

}  // namespace nuv::support
