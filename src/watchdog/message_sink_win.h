// The standard error stream as a message sink.
#pragma once

#include "watchdog/message_sink.h"

namespace nuv {

// A console gets the line as UTF-16 through WriteConsoleW, so that non-ASCII
// text shows correctly; a pipe or a file gets the UTF-8 bytes unchanged.
// Without a standard error stream, or when writing fails (the reader of the
// pipe has gone with the client, the console was closed, the disk is full),
// the line is dropped and the watchdog carries on.
class StandardErrorSink final : public MessageSink {
 public:
  void write_line(std::string_view line) override;
};

}  // namespace nuv
