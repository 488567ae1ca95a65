// Where the watchdog's one-line messages go.
#pragma once

#include <string_view>

namespace nuv {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Writes `line` followed by a single line feed. A line that cannot be
  // written is dropped: no message is worth stopping the watchdog for.
  virtual void write_line(std::string_view line) = 0;
};

}  // namespace nuv
