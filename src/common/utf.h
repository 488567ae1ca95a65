// Strict conversions between UTF-8 and UTF-16. Text is UTF-8 inside the
// program; UTF-16 exists only at the system boundary.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace nuv {

// Absent when the input holds a lone surrogate.
std::optional<std::string> utf16_to_utf8(std::u16string_view text);

// Absent when the input is not well-formed UTF-8 (overlong forms, surrogates,
// values above U+10FFFF and truncated sequences are all refused).
std::optional<std::u16string> utf8_to_utf16(std::string_view text);

bool is_valid_utf8(std::string_view text);

// Decodes bytes as UTF-8, replacing each maximal ill-formed subpart by one
// U+FFFD (the Unicode Standard's recommended practice): ED A0 80 gives three,
// the truncated E2 82 gives one.
std::string decode_utf8_lossy(std::string_view bytes);

// The length of the longest start of `text` within `limit` bytes that ends
// between two characters; an ill-formed sequence counts as one character, as
// a lossy decoding gives it one U+FFFD.
std::size_t utf8_prefix_length(std::string_view text, std::size_t limit);

// One step of a lossy decoding, for code that looks at each character.
struct Utf8Step {
  char32_t code_point;  // U+FFFD when the bytes were ill-formed
  std::size_t length;   // bytes taken, at least 1 (the maximal subpart when ill-formed)
  bool valid;
};

// Decodes the character at text[pos], which must be inside the text; with the
// same replacement rule as decode_utf8_lossy.
Utf8Step decode_utf8_step(std::string_view text, std::size_t pos);

}  // namespace nuv
