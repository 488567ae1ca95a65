// A log for the portable tests: keeps every line it is given.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"

namespace nuv::test {

struct RecordingLog final : Log {
  void write(std::string_view text) override { lines.emplace_back(text); }
  std::vector<std::string> lines;
};

}  // namespace nuv::test
