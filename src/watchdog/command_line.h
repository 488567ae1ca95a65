// The two arguments: the parent's process id and the clean flag path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace nuv {

struct WatchdogArguments {
  std::uint32_t parent_pid = 0;
  std::string clean_flag;  // UTF-8, exactly as received
};

// Why the watchdog refuses to start: the one line to print, and exit code 2.
struct StartupRefusal {
  std::string message;
};

// An optional "+", then one or more ASCII digits and nothing else, at most
// 4294967295.
std::optional<std::uint32_t> parse_parent_pid(std::string_view text);

// `arguments` are those after the program name, as the system split them.
Result<WatchdogArguments, StartupRefusal> parse_command_line(
    const std::vector<std::u16string>& arguments);

}  // namespace nuv
