// Where the watchdog's one-line messages go.
#pragma once

#include <cstddef>
#include <string_view>

namespace nuv {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Writes `line` followed by a single line feed. A line that cannot be
  // written is dropped: no message is worth stopping the watchdog for.
  virtual void write_line(std::string_view line) = 0;
};

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
