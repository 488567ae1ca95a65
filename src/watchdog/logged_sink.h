// A message sink that also keeps every line in the log: the client that
// reads standard error is usually dead exactly when the recovery speaks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/error_list.h"
#include "common/log.h"
#include "common/utf.h"
#include "watchdog/message_sink.h"

namespace nuv {

// The longest message the log keeps whole. The summary line keeps within
// about 2 MiB by its list's own rule, unless its first error alone is longer:
// a tool's mebibyte of control bytes, escaped, takes up to six times that.
// The log then keeps the line's start and counts the rest, so that one run
// writes under 5 MiB to it: this, the detail lines' budget and a few lines.
inline constexpr std::size_t kLoggedLineLimit = std::size_t{3} * 1024 * 1024;

class LoggedSink final : public MessageSink {
 public:
  LoggedSink(MessageSink& out, Log& log) : out_(out), log_(log) {}
  // Logged first: the log keeps the line even when standard error is
  // missing, closed or stalled.
  void write_line(std::string_view line) override {
    if (line.size() <= kLoggedLineLimit) {
      log_.write(line);
    } else {
      const std::size_t kept = utf8_prefix_length(line, kLoggedLineLimit);
      log_.write(std::string(line.substr(0, kept)) + more_bytes_text(line.size() - kept));
    }
    out_.write_line(line);
  }

 private:
  MessageSink& out_;
  Log& log_;
};

}  // namespace nuv
