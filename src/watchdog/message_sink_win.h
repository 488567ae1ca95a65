// The standard error stream as a message sink.
#pragma once

#include <chrono>
#include <string_view>

#include "watchdog/message_sink.h"

namespace nuv {

// A line not written after this long is given up: a reader that keeps the
// pipe open but reads nothing (a hung client, or a process that inherited its
// read end) must not hold the watchdog forever.
inline constexpr std::chrono::milliseconds kMessageWriteLimit = std::chrono::seconds(5);

// A console gets the line as UTF-16 through WriteConsoleW, so that non-ASCII
// text shows correctly; a pipe or a file gets the UTF-8 bytes unchanged.
// Without a standard error stream, or when writing fails (the reader of the
// pipe has gone with the client, the console was closed, the disk is full),
// the line is dropped and the watchdog carries on. A write still blocked
// after the limit is cancelled; that line and every later one are dropped.
class StandardErrorSink final : public MessageSink {
 public:
  explicit StandardErrorSink(std::chrono::milliseconds write_limit = kMessageWriteLimit)
      : write_limit_(write_limit) {}
  void write_line(std::string_view line) override;

 private:
  std::chrono::milliseconds write_limit_;
  bool stalled_ = false;
};

}  // namespace nuv
