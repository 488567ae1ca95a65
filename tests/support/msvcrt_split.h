// Splits a Windows command line the way the Microsoft C runtime does before
// main() sees it, so that tests can check a built line from the child's side.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nuv::test {

// The first element is the program name (read without escapes, as the
// runtime does); the rest are the arguments.
inline std::vector<std::u16string> msvcrt_split(std::u16string_view line) {
  std::vector<std::u16string> out;
  std::size_t i = 0;
  const auto at = [&](std::size_t k) -> char16_t { return k < line.size() ? line[k] : u'\0'; };

  // The program name: double quotes toggle a quoted stretch, in which a space
  // or tab does not end it, and are dropped; backslashes are plain
  // characters. Several quoted stretches may make up one name ("a b"c is
  // "a bc").
  std::u16string program;
  bool quoted_name = false;
  for (; i < line.size(); ++i) {
    if (line[i] == u'"') {
      quoted_name = !quoted_name;
    } else if (!quoted_name && (line[i] == u' ' || line[i] == u'\t')) {
      break;
    } else {
      program.push_back(line[i]);
    }
  }
  out.push_back(program);

  for (;;) {
    while (at(i) == u' ' || at(i) == u'\t') ++i;
    if (i >= line.size()) break;
    std::u16string arg;
    bool quoted = false;
    for (;;) {
      std::size_t slashes = 0;
      while (at(i) == u'\\') {
        ++i;
        ++slashes;
      }
      bool copy = true;
      if (at(i) == u'"' && i < line.size()) {
        if (slashes % 2 == 0) {
          if (quoted && at(i + 1) == u'"') {
            ++i;  // "" inside quotes is one literal quote
          } else {
            copy = false;
            quoted = !quoted;
          }
        }
        slashes /= 2;
      }
      arg.append(slashes, u'\\');
      if (i >= line.size() || (!quoted && (line[i] == u' ' || line[i] == u'\t'))) break;
      if (copy) arg.push_back(line[i]);
      ++i;
    }
    out.push_back(std::move(arg));
  }
  return out;
}

}  // namespace nuv::test
