// Running the undo of one journalled change: its plan's steps in order, each
// answer judged (the system's own language included), every command logged,
// and the one message of a failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error_list.h"
#include "common/log.h"
#include "common/result.h"
#include "platform/process/command.h"
#include "platform/rollback/read_back.h"
#include "platform/rollback/undo_plan.h"
#include "state/system_change.h"

namespace nuv {

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
  // Tells running programs that the Internet settings changed, or says why
  // that could not be done.
  std::function<Result<void, std::string>()> announce_internet_settings_changed;
  // Reads the change back after its tools ran (read_back_change on the
  // system's tables), so that the machine's state decides: gone is undone and
  // in place is not, whatever the tools answered; "cannot tell" leaves the
  // tools' verdict. Unset: the tools alone decide. A refused undo, which ran
  // nothing, is not read back. Initialised so that the positional
  // initialisations written before it still leave it unset without a warning.
  std::function<ReadBack(const SystemChange&)> read_back = {};
};

// A system message's text as it is searched for: without its trailing white
// space, full stops and ideographic full stops. Empty means there is nothing
// to search for.
std::string trimmed_message_text(std::string_view text);

// The readings of a tool's standard error that decode without a replacement:
// UTF-8 when the bytes are valid UTF-8, then the system's code page readings.
std::vector<std::string> standard_error_readings(std::string_view bytes, const UndoSystem& system);

// Undoes one change: succeeds when it is undone (or counts as undone), else
// fails with the one message that says why not.
Result<void, std::string> undo_change(const SystemChange& change, const CommandRunner& run);

// The same, and `log` gets a line per command: the program as resolved, its
// arguments, its exit code and time or its launch error, and the start of its
// standard error when its answer was not accepted.
Result<void, std::string> undo_change(const SystemChange& change, const CommandRunner& run,
                                      Log& log);

// The same with the system's answers in its own language taken into account,
// after a proxy undo the change announced (a line in `log` says how that
// went), and then the change read back when `system.read_back` is set (a line
// in `log` says what was found, unless it has nothing to say).
Result<void, std::string> undo_change(const SystemChange& change, const UndoSystem& system,
                                      Log& log);

// The same, with the bytes of the tool's standard error that the runner read
// but did not keep counted apart from the message's text, so that the error
// list can cut the message and still give one count of all it left out.
// undo_change fails with the text followed by " [<n> more bytes]".
Result<void, ErrorMessage> undo_change_error(const SystemChange& change, const UndoSystem& system,
                                             Log& log);

// How much of a refused answer's standard error, and of a command's
// arguments, the log keeps.
inline constexpr std::size_t kLoggedStandardErrorBytes = 4096;
inline constexpr std::size_t kLoggedArgumentBytes = 4096;

}  // namespace nuv
