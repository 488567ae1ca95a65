// A message sink for the portable tests: keeps every line it is given.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "watchdog/message_sink.h"

namespace nuv::test {

struct RecordingSink final : MessageSink {
  void write_line(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

}  // namespace nuv::test
