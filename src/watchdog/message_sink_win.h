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

enum class StandardStream { kOutput, kError };

// A console gets the line as UTF-16 through WriteConsoleW, so that non-ASCII
// text shows correctly; a pipe or a file gets the UTF-8 bytes unchanged.
// Without the stream, or when writing fails (the reader of the pipe has gone
// with the client, the console was closed, the disk is full), the line is
// dropped and the watchdog carries on. A write still blocked after the limit
// is cancelled; that line and every later one are dropped.
class StandardStreamSink : public MessageSink {
 public:
  StandardStreamSink(StandardStream stream, std::chrono::milliseconds write_limit)
      : stream_(stream), write_limit_(write_limit) {}
  void write_line(std::string_view line) override;

 private:
  StandardStream stream_;
  std::chrono::milliseconds write_limit_;
  bool stalled_ = false;
};

// Where the messages go.
class StandardErrorSink final : public StandardStreamSink {
 public:
  explicit StandardErrorSink(std::chrono::milliseconds write_limit = kMessageWriteLimit)
      : StandardStreamSink(StandardStream::kError, write_limit) {}
};

// Where --help, --version and --plan write, by the same rules.
class StandardOutputSink final : public StandardStreamSink {
 public:
  explicit StandardOutputSink(std::chrono::milliseconds write_limit = kMessageWriteLimit)
      : StandardStreamSink(StandardStream::kOutput, write_limit) {}
};

}  // namespace nuv
