// Starting one command's child process: the program search, its command line,
// the pipes for its output and the exact handles it inherits.
#pragma once

#include <string>
#include <string_view>

#include "common/result.h"
#include "common/unique_handle_win.h"
#include "platform/process/command.h"
#include "platform/process/launch_error.h"

namespace nuv {

class ChildStandardInput;  // child_standard_input_win.h

// A child just created, with our ends of its two output pipes.
struct StartedChild {
  UniqueHandle process;
  UniqueHandle thread;
  UniqueHandle stdout_read;
  UniqueHandle stderr_read;
};

// `program_path` gets the program as resolved, as soon as it is known, so
// that a failure after the search still names it.
Result<StartedChild, LaunchError> start_child(const CommandRequest& request,
                                              ChildStandardInput& standard_input,
                                              std::string& program_path);

// What start_child checks of the file it is to start once the launch is
// prepared, asked without starting anything: its path in the system's form,
// and the system's own error when the file or its folder is not there, which
// CreateProcessW would end with. For the plan, which shows a command that
// cannot start as such.
Result<void, LaunchError> check_application(std::u16string_view application);

}  // namespace nuv
