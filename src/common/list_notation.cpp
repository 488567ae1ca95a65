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

// Writes the escaped form of `message` through `out`, which takes either a
// piece of text to append or, for the code point escape, the code point: the
// same walk serves writing the list and measuring it beforehand.
template <class Out>
void escape(std::string_view message, Out&& out) {
  for (std::size_t pos = 0; pos < message.size();) {
    const Utf8Step step = decode_utf8_step(message, pos);
    switch (step.code_point) {
      case U'\\':
        out(std::string_view("\\\\"));
        break;
      case U'"':
        out(std::string_view("\\\""));
        break;
      default:
        if (!step.valid) {
          out(std::string_view("\xEF\xBF\xBD"));  // U+FFFD, printable: never escaped
        } else if (needs_unicode_escape(step.code_point)) {
          out(step.code_point);
        } else {
          out(message.substr(pos, step.length));
        }
    }
    pos += step.length;
  }
}

std::size_t hex_digits(char32_t value) {
  std::size_t count = 0;
  do {
    ++count;
    value >>= 4;
  } while (value != 0);
  return count;
}

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

// The four characters with an escape of one letter after the backslash.
char single_letter_escape(char32_t code_point) {
  switch (code_point) {
    case U'\t':
      return 't';
    case U'\r':
      return 'r';
    case U'\n':
      return 'n';
    case U'\0':
      return '0';
    default:
      return 0;
  }
}

struct Appender {
  std::string& out;
  void operator()(std::string_view text) const { out.append(text); }
  void operator()(char32_t code_point) const { append_escape(out, code_point); }
};

struct Counter {
  std::size_t& size;
  void operator()(std::string_view text) const { size += text.size(); }
  // A backslash and a letter, or a backslash, the letter u and two braces
  // around the digits.
  void operator()(char32_t code_point) const {
    size += single_letter_escape(code_point) != 0 ? 2 : 4 + hex_digits(code_point);
  }
};

}  // namespace

bool needs_unicode_escape(char32_t code_point) {
  // The first range whose end is not below the code point is the only one
  // that can hold it.
  const auto* range =
      std::lower_bound(std::begin(kEscapedRanges), std::end(kEscapedRanges), code_point,
                       [](const CodePointRange& r, char32_t cp) { return r.last < cp; });
  if (range == std::end(kEscapedRanges)) return true;  // beyond U+10FFFF
  return range->first <= code_point;
}

void append_escape(std::string& out, char32_t code_point) {
  out.push_back('\\');
  if (const char letter = single_letter_escape(code_point); letter != 0) {
    out.push_back(letter);
    return;
  }
  out += "u{";
  append_hex(out, code_point);
  out.push_back('}');
}

void append_list_item(std::string& out, std::string_view message) {
  out.push_back('"');
  escape(message, Appender{out});
  out.push_back('"');
}

std::size_t list_item_size(std::string_view message) {
  std::size_t size = 2;  // the quotes
  escape(message, Counter{size});
  return size;
}

std::string list_notation(const std::vector<std::string>& messages) {
  std::string out = "[";
  for (std::size_t i = 0; i < messages.size(); ++i) {
    if (i != 0) out += ", ";
    append_list_item(out, messages[i]);
  }
  out.push_back(']');
  return out;
}

}  // namespace nuv
