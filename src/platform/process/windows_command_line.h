// Joining arguments into one Windows command line that the child's C runtime
// splits back into exactly those arguments, and the stricter form a batch
// script needs because cmd.exe reads the line before the script does.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/process/launch_error.h"
#include "platform/process/program_search.h"

namespace nuv {

// One argument (UTF-8) in the form the standard Windows splitting rules read
// back unchanged.
Result<std::u16string, LaunchError> quote_argument(std::string_view argument);

// "program" followed by each argument, quoted. The program text is the
// caller's, not the resolved path, and is not escaped.
Result<std::u16string, LaunchError> build_command_line(std::string_view program,
                                                       const std::vector<std::string>& args);

// One argument of a batch run: quoted more eagerly, quotes doubled, and each
// '%' prefixed with "%%cd:~," so that cmd.exe expands no variable.
Result<std::u16string, LaunchError> quote_batch_argument(std::string_view argument);

struct BatchLaunch {
  std::u16string application;  // the system folder's cmd.exe
  std::u16string command_line;
};

// cmd.exe /e:ON /v:OFF /d /c ""script" args..." for a resolved .bat or .cmd.
Result<BatchLaunch, LaunchError> build_batch_command_line(std::u16string_view script,
                                                          const std::vector<std::string>& args,
                                                          const ProgramSearchSystem& system);

}  // namespace nuv
