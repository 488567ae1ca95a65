#include "common/utf.h"

#include <cstdint>

namespace nuv {
namespace {

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes the UTF-8 sequence at text[pos] (Unicode table 3-7). Returns how
// many bytes it took; `valid` tells whether they formed a character. An
// ill-formed sequence takes its maximal subpart: the lead byte and the
// continuation bytes that were still allowed after it, at least one byte.
std::size_t decode_utf8(std::string_view text, std::size_t pos, char32_t& cp, bool& valid) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t b0 = byte(pos);
  valid = false;
  if (b0 < 0x80) {
    cp = b0;
    valid = true;
    return 1;
  }
  std::size_t length;
  std::uint8_t low = 0x80, high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return 1;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (pos + i >= text.size()) return i;
    const std::uint8_t b = byte(pos + i);
    if (b < low || b > high) return i;
    low = 0x80;
    high = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
  }
  valid = true;
  return length;
}

}  // namespace

std::optional<std::string> utf16_to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 == text.size()) return std::nullopt;
      const char32_t next = text[i + 1];
      if (next < 0xDC00 || next > 0xDFFF) return std::nullopt;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
      ++i;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return std::nullopt;
    }
    append_utf8(out, unit);
  }
  return out;
}

std::optional<std::u16string> utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t cp = 0;
    bool valid = false;
    pos += decode_utf8(text, pos, cp, valid);
    if (!valid) return std::nullopt;
    if (cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp));
    } else {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
  }
  return out;
}

bool is_valid_utf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t cp = 0;
    bool valid = false;
    pos += decode_utf8(text, pos, cp, valid);
    if (!valid) return false;
  }
  return true;
}

Utf8Step decode_utf8_step(std::string_view text, std::size_t pos) {
  char32_t cp = 0;
  bool valid = false;
  const std::size_t length = decode_utf8(text, pos, cp, valid);
  return {valid ? cp : U'\uFFFD', length, valid};
}

std::string decode_utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    char32_t cp = 0;
    bool valid = false;
    const std::size_t length = decode_utf8(bytes, pos, cp, valid);
    if (valid) {
      out.append(bytes, pos, length);
    } else {
      out += "\xEF\xBF\xBD";  // U+FFFD
    }
    pos += length;
  }
  return out;
}

std::size_t utf8_prefix_length(std::string_view text, std::size_t limit) {
  std::size_t length = 0;
  while (length < text.size()) {
    const std::size_t next = length + decode_utf8_step(text, length).length;
    if (next > limit) break;
    length = next;
  }
  return length;
}

}  // namespace nuv
