// The one-line notation in which the recovery summary lists error messages:
// ["first", "second"], with every character that could break the line, hide
// itself or join its neighbour written as an escape.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nuv {

// True for the characters written as \u{...}: general categories Cc, Cf, Cs,
// Co, Cn, Zl, Zp, Zs except U+0020, and Grapheme_Extend. Code points above
// U+10FFFF are never characters and count as unassigned.
bool needs_unicode_escape(char32_t code_point);

// Appends the escape the list writes for one character: \t, \r, \n and \0
// for those four, \u{<lower-case hex>} for any other. Also for lines that
// echo a text of someone else's, so that all escapes read alike.
void append_escape(std::string& out, char32_t code_point);

// Messages are UTF-8; a byte sequence that is not well-formed is written as
// U+FFFD, one per maximal ill-formed subpart, so the result is always valid
// UTF-8 on a single line.
std::string list_notation(const std::vector<std::string>& messages);

// One item of the notation, the message between its double quotes.
void append_list_item(std::string& out, std::string_view message);
// How many bytes append_list_item writes for `message`.
std::size_t list_item_size(std::string_view message);

}  // namespace nuv
