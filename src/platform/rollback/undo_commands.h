// How each kind of journalled change is undone: the tools, their exact
// arguments, which answers count as success, and the message of a failure.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error_list.h"
#include "common/log.h"
#include "common/result.h"
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

// What an undo needs of the system besides running tools. Every member but
// `run` may be left unset; then only the English texts count as "already
// gone", and nothing is announced.
struct UndoSystem {
  CommandRunner run;
  // The system's texts of message `code`, in each language the system may
  // answer in (UTF-8, as the system gives them; trimmed here). A text that
  // could not be had is left out.
  std::function<std::vector<std::string>(std::uint32_t code)> message_texts;
  // A tool's standard error read in the code pages a console tool writes in:
  // the console's output code page (when there is a console), the OEM code
  // page, the ANSI code page, in that order; each only when the bytes decode
  // in it without a replacement character.
  std::function<std::vector<std::string>(std::string_view bytes)> code_page_readings;
  // Tells running programs that the Internet settings changed. Absent when
  // that was done, else why not.
  std::function<std::optional<std::string>()> announce_internet_settings_changed;
};

// A system message's text as it is searched for: without its trailing white
// space, full stops and ideographic full stops. Empty means there is nothing
// to search for.
std::string trimmed_message_text(std::string_view text);

// The readings of a tool's standard error that decode without a replacement:
// UTF-8 when the bytes are valid UTF-8, then the system's code page readings.
std::vector<std::string> standard_error_readings(std::string_view bytes, const UndoSystem& system);

// The steps run in order; the first counted step that fails ends the undo
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

// The same with the system's answers in its own language taken into account
// and, after a proxy undo, the change announced (a line in `log` says how
// that went).
std::optional<std::string> undo_change(const SystemChange& change, const UndoSystem& system,
                                       Log& log);

// The same, with the bytes of the tool's standard error that the runner read
// but did not keep counted apart from the message's text, so that the error
// list can cut the message and still give one count of all it left out.
// undo_change returns the text followed by " [<n> more bytes]".
std::optional<ErrorMessage> undo_change_error(const SystemChange& change, const UndoSystem& system,
                                              Log& log);

// How much of a refused answer's standard error, and of a command's
// arguments, the log keeps.
inline constexpr std::size_t kLoggedStandardErrorBytes = 4096;
inline constexpr std::size_t kLoggedArgumentBytes = 4096;

}  // namespace nuv
