#include "common/list_notation.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string_view>

#include "common/unicode_escape_table.h"  // generated at build time
#include "common/utf.h"

namespace nuv {
namespace {

using unicode_tables::CodePointRange;
using unicode_tables::kEscapedRanges;

void append_hex(std::string& out, char32_t value) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  std::array<char, 8> digits;
  int count = 0;
  do {
    digits[count++] = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  while (count > 0) out.push_back(digits[--count]);
}

void append_quoted(std::string& out, std::string_view message) {
  out.push_back('"');
  for (std::size_t pos = 0; pos < message.size();) {
    const Utf8Step step = decode_utf8_step(message, pos);
    switch (step.code_point) {
      case U'\\':
        out += "\\\\";
        break;
      case U'"':
        out += "\\\"";
        break;
      default:
        if (!step.valid) {
          out += "\xEF\xBF\xBD";  // U+FFFD, printable: never escaped
        } else if (needs_unicode_escape(step.code_point)) {
          append_escape(out, step.code_point);
        } else {
          out.append(message, pos, step.length);
        }
    }
    pos += step.length;
  }
  out.push_back('"');
}

}  // namespace

void append_escape(std::string& out, char32_t code_point) {
  switch (code_point) {
    case U'\t':
      out += "\\t";
      return;
    case U'\r':
      out += "\\r";
      return;
    case U'\n':
      out += "\\n";
      return;
    case U'\0':
      out += "\\0";
      return;
    default:
      out += "\\u{";
      append_hex(out, code_point);
      out.push_back('}');
  }
}

bool needs_unicode_escape(char32_t code_point) {
  // The first range whose end is not below the code point is the only one
  // that can hold it.
  const auto* range =
      std::lower_bound(std::begin(kEscapedRanges), std::end(kEscapedRanges), code_point,
                       [](const CodePointRange& r, char32_t cp) { return r.last < cp; });
  if (range == std::end(kEscapedRanges)) return true;  // beyond U+10FFFF
  return range->first <= code_point;
}

std::string list_notation(const std::vector<std::string>& messages) {
  std::string out = "[";
  for (std::size_t i = 0; i < messages.size(); ++i) {
    if (i != 0) out += ", ";
    append_quoted(out, messages[i]);
  }
  out.push_back(']');
  return out;
}

}  // namespace nuv
