// Fakes of the program's two outputs for the portable tests, the message sink
// and the log: each keeps every line it is given, in order; the null sink
// keeps none.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"
#include "watchdog/message_sink.h"

namespace nuv::test {

struct RecordedLines {
  std::vector<std::string> lines;
};

struct RecordingLog final : Log, RecordedLines {
  void write(std::string_view text) override { lines.emplace_back(text); }
};

struct RecordingSink final : MessageSink, RecordedLines {
  void write_line(std::string_view line) override { lines.emplace_back(line); }
};

struct NullSink final : MessageSink {
  void write_line(std::string_view) override {}
};

}  // namespace nuv::test
