// Finding the file to start for a program name, without ever looking in the
// current folder, and telling a batch script from a program.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/process/launch_error.h"

namespace nuv {

// The read-only questions the search asks the system. The real answers come
// from windows_program_search(); tests answer from a table.
struct ProgramSearchSystem {
  // True when the path's attributes can be read (links are not followed).
  std::function<bool(const std::u16string& path)> exists;
  // Each fails with the system's error when its answer cannot be had (PATH
  // also when it is not set); the search then skips that candidate.
  std::function<Result<std::u16string, LaunchError>()> executable_path;
  std::function<Result<std::u16string, LaunchError>()> system_directory;
  std::function<Result<std::u16string, LaunchError>()> windows_directory;
  std::function<Result<std::u16string, LaunchError>()> path_variable;
  std::function<Result<std::u16string, LaunchError>(const std::u16string& path)> full_path;
};

// The file to start for `program` (UTF-8): a path is used as given (with
// ".exe" added when that file exists), a bare name is searched for in the
// watchdog's own folder, the system folder, the Windows folder and PATH, in
// that order.
Result<std::u16string, LaunchError> resolve_program(std::string_view program,
                                                    const ProgramSearchSystem& system);

// True when the resolved program's full path ends in .bat or .cmd.
Result<bool, LaunchError> is_batch_program(const std::u16string& resolved,
                                           const ProgramSearchSystem& system);

// PATH entries in order: split at ';' outside double quotes, quotes dropped,
// empty entries skipped.
std::vector<std::u16string> split_path_variable(std::u16string_view path);

}  // namespace nuv
