// The standard error stream as a message sink.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>
#include <utility>

#include "watchdog/message_sink.h"

namespace nuv {

// A line not written after this long is given up: a reader that keeps the
// pipe open but reads nothing (a hung client, or a process that inherited its
// read end) must not hold the watchdog forever.
inline constexpr std::chrono::milliseconds kMessageWriteLimit = std::chrono::seconds(5);

enum class StandardStream { kOutput, kError };

// Runs just before each chunk of a line goes to the system, after the limit
// was checked, with the chunk's number from 0. Tests stall in it, as a slow
// system call would; the sinks of the program have none.
using BeforeChunk = std::function<void(std::size_t)>;

// A console gets the line as UTF-16 through WriteConsoleW, so that non-ASCII
// text shows correctly; a pipe or a file gets the UTF-8 bytes unchanged.
// Without the stream, or when writing fails (the reader of the pipe has gone
// with the client, the console was closed, the disk is full), the line is
// dropped and the watchdog carries on. Once a line has taken longer than the
// limit, no further chunk of it is written and a blocked write is cancelled;
// that line and every later one are dropped.
class StandardStreamSink : public MessageSink {
 public:
  StandardStreamSink(StandardStream stream, std::chrono::milliseconds write_limit,
                     BeforeChunk before_chunk = {})
      : stream_(stream), write_limit_(write_limit), before_chunk_(std::move(before_chunk)) {}
  void write_line(std::string_view line) override;

 private:
  StandardStream stream_;
  std::chrono::milliseconds write_limit_;
  BeforeChunk before_chunk_;
  bool stalled_ = false;
};

// Where the messages go.
class StandardErrorSink final : public StandardStreamSink {
 public:
  explicit StandardErrorSink(std::chrono::milliseconds write_limit = kMessageWriteLimit,
                             BeforeChunk before_chunk = {})
      : StandardStreamSink(StandardStream::kError, write_limit, std::move(before_chunk)) {}
};

// Where --help, --version and --plan write, by the same rules.
class StandardOutputSink final : public StandardStreamSink {
 public:
  explicit StandardOutputSink(std::chrono::milliseconds write_limit = kMessageWriteLimit)
      : StandardStreamSink(StandardStream::kOutput, write_limit) {}
};

}  // namespace nuv
