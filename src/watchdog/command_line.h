// The command line: the monitoring form with the parent's process id and the
// clean flag path, and the forms that start with a keyword.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/result.h"

namespace nuv {

// nuv-watchdog <parent_pid> <clean_flag_path>
struct WatchdogArguments {
  std::uint32_t parent_pid = 0;
  std::string clean_flag;  // UTF-8, exactly as received
};

// nuv-watchdog --recover
struct RecoverRequest {};

// nuv-watchdog --plan [journal_path]
struct PlanRequest {
  std::optional<std::string> journal_path;  // UTF-8; absent: the client's journal
};

// nuv-watchdog --help | /?
struct HelpRequest {};

// nuv-watchdog --version
struct VersionRequest {};

using Invocation =
    std::variant<WatchdogArguments, RecoverRequest, PlanRequest, HelpRequest, VersionRequest>;

// Why the watchdog refuses to start: the one line to print, and exit code 2.
struct StartupRefusal {
  std::string message;
};

// An optional "+", then one or more ASCII digits and nothing else, at most
// 4294967295.
std::optional<std::uint32_t> parse_parent_pid(std::string_view text);

// `arguments` are those after the program name, as the system split them. A
// keyword is matched exactly, case and all, as the first argument; a list
// that starts with one but does not fit its form is a usage error, as is any
// other list that is not two arguments.
Result<Invocation, StartupRefusal> parse_invocation(const std::vector<std::u16string>& arguments);

// The monitoring form alone.
Result<WatchdogArguments, StartupRefusal> parse_command_line(
    const std::vector<std::u16string>& arguments);

}  // namespace nuv
