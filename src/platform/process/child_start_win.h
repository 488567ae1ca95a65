// Starting one command's child process: the program search, its command line,
// the pipes for its output and the exact handles it inherits.
#pragma once

#include <string>

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

}  // namespace nuv
