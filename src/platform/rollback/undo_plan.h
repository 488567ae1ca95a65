// How each kind of journalled change is undone: the tools, their exact
// arguments, which answers count as success, and the message of a failure.
// Nothing here runs a command; undo_commands.h runs the steps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process/command.h"
#include "state/system_change.h"

namespace nuv {

inline constexpr std::uint32_t kCreateNoWindow = 0x08000000;

struct UndoStep {
  CommandRequest request;
  // Whether the step's outcome decides the undo; when false it is ignored,
  // launch failures included.
  bool outcome_counts = true;
  // Besides exit code 0, a step whose outcome counts succeeds when its standard error,
  // decoded as UTF-8, contains one of these (case-sensitive).
  std::vector<std::string_view> tolerated;
  // The system messages behind those texts, by code: the system's own text of
  // each, in any language it answers in, counts as well (see UndoSystem).
  std::vector<std::uint32_t> tolerated_messages;
  std::string failure_prefix;  // followed by the standard error text
  std::string launch_prefix;   // followed by the launch error's text
  // Set when the command would reach further than the change it undoes: the
  // step then fails with the launch prefix and this text, and nothing starts.
  std::optional<std::string> refusal;
};

// Codes of the system messages a tool answers with when the change is
// already gone.
inline constexpr std::uint32_t kInvalidName = 123;  // ERROR_INVALID_NAME
inline constexpr std::uint32_t kNotFound = 1168;    // ERROR_NOT_FOUND

// The steps run in order; the first counted step that fails ends the undo
// with its message, and the steps after it are not run.
std::vector<UndoStep> undo_plan(const SystemChange& change);

// The message of an undo whose tools answered as if it worked while reading
// the change back found it still in place: the failure prefix of the plan's
// first counted step and what is still there ("route delete failed: the route
// is still in the routing table"). The proxy, whose steps never count, has a
// message of its own.
std::string still_there_message(const SystemChange& change);

// The PowerShell script that restores an interface's DNS servers by index;
// an empty list resets them to automatic configuration. Each server stands in
// single quotes, with every quote character that PowerShell ends such a
// string at written twice.
std::string dns_restore_script(std::uint32_t interface_index,
                               const std::vector<std::string>& servers);

}  // namespace nuv
