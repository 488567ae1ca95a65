// What CreateProcessW is given for one command: the program search, then the
// command line, or for a batch script the line of the cmd.exe that runs it.
// Portable, so that the plan shows exactly the refusals the runner meets.
#pragma once

#include <string>

#include "common/result.h"
#include "platform/process/command.h"
#include "platform/process/launch_error.h"
#include "platform/process/program_search.h"

namespace nuv {

struct ProgramLaunch {
  std::u16string application;  // the file started: the program, or cmd.exe for a script
  std::u16string command_line;
  // The program as the search resolved it (UTF-8): the file started, or the
  // script that cmd.exe runs. Empty in the unlikely case that the resolved
  // path is not valid UTF-16.
  std::string program_path;
};

// Fails with the runner's own launch error; once the search has found the
// program, the error's program_path names it.
Result<ProgramLaunch, LaunchError> prepare_launch(const CommandRequest& request,
                                                  const ProgramSearchSystem& system);

}  // namespace nuv
