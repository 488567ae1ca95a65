// How each kind of journalled change is undone: the tools, their exact
// arguments, which answers count as success, and the message of a failure.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"
#include "common/result.h"
#include "platform/process/command.h"
#include "state/system_change.h"

namespace nuv {

inline constexpr std::uint32_t kCreateNoWindow = 0x08000000;

struct UndoStep {
  CommandRequest request;
  // An unchecked step's outcome is ignored, launch failures included.
  bool checked = true;
  // Besides exit code 0, a checked step succeeds when its standard error,
  // decoded as UTF-8, contains one of these (case-sensitive).
  std::vector<std::string_view> tolerated;
  std::string failure_prefix;  // followed by the standard error text
  std::string launch_prefix;   // followed by the launch error's text
  // Set when the command would reach further than the change it undoes: the
  // step then fails with the launch prefix and this text, and nothing starts.
  std::optional<std::string> refusal;
};

// The steps run in order; the first checked step that fails ends the undo
// with its message, and the steps after it are not run.
std::vector<UndoStep> undo_plan(const SystemChange& change);

// The PowerShell script that restores an interface's DNS servers by index;
// an empty list resets them to automatic configuration. Each server stands in
// single quotes, with every quote character that PowerShell ends such a
// string at written twice.
std::string dns_restore_script(std::uint32_t interface_index,
                               const std::vector<std::string>& servers);

// Undoes one change. Absent when it is undone (or counts as undone), else the
// one message that says why not.
std::optional<std::string> undo_change(const SystemChange& change, const CommandRunner& run);

// The same, and `log` gets a line per command: the program as resolved, its
// arguments, its exit code and time or its launch error, and the start of its
// standard error when its answer was not accepted.
std::optional<std::string> undo_change(const SystemChange& change, const CommandRunner& run,
                                       Log& log);

// How much of a refused answer's standard error, and of a command's
// arguments, the log keeps.
inline constexpr std::size_t kLoggedStandardErrorBytes = 4096;
inline constexpr std::size_t kLoggedArgumentBytes = 4096;

}  // namespace nuv
