// A message sink that also keeps every line in the log: the client that
// reads standard error is usually dead exactly when the recovery speaks.
#pragma once

#include <string_view>

#include "common/log.h"
#include "watchdog/message_sink.h"

namespace nuv {

class LoggedSink final : public MessageSink {
 public:
  LoggedSink(MessageSink& out, Log& log) : out_(out), log_(log) {}
  // Logged first: the log keeps the line even when standard error is
  // missing, closed or stalled.
  void write_line(std::string_view line) override {
    log_.write(line);
    out_.write_line(line);
  }

 private:
  MessageSink& out_;
  Log& log_;
};

}  // namespace nuv
