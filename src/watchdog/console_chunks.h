// How a line is cut into the console's writes: never between the two halves
// of a surrogate pair.
#pragma once

#include <cstddef>

namespace nuv {

// The most UTF-16 units that one console write is handed.
inline constexpr std::size_t kConsoleChunkUnits = 0x8000;

// How many UTF-16 units of a text of `size` units go into one console write
// of at most `limit` units: never half a surrogate pair, which the console
// would show as two replacement characters.
template <class Unit>
std::size_t console_chunk_length(const Unit* text, std::size_t size, std::size_t limit) {
  if (size <= limit) return size;
  const auto last = static_cast<unsigned>(text[limit - 1]);
  const bool high_surrogate = last >= 0xD800 && last <= 0xDBFF;
  return high_surrogate && limit > 1 ? limit - 1 : limit;
}

}  // namespace nuv
