// Finding the file to start for a program name, without ever looking in the
// current folder, and telling a batch script from a program.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/process/launch_error.h"

namespace nuv {

// The read-only questions the search asks the system. The real one lives in
// windows_program_search_win.cpp; tests answer from a table.
class ProgramSearchSystem {
 public:
  virtual ~ProgramSearchSystem() = default;
  // True when the path's attributes can be read (links are not followed).
  virtual bool exists(const std::u16string& path) = 0;
  // Absent when the answer cannot be had.
  virtual std::optional<std::u16string> executable_path() = 0;
  virtual Result<std::u16string, LaunchError> system_directory() = 0;
  virtual std::optional<std::u16string> windows_directory() = 0;
  virtual std::optional<std::u16string> path_variable() = 0;
  virtual Result<std::u16string, LaunchError> full_path(const std::u16string& path) = 0;
};

// The file to start for `program` (UTF-8): a path is used as given (with
// ".exe" added when that file exists), a bare name is searched for in the
// watchdog's own folder, the system folder, the Windows folder and PATH, in
// that order.
Result<std::u16string, LaunchError> resolve_program(std::string_view program,
                                                    ProgramSearchSystem& system);

// True when the resolved program's full path ends in .bat or .cmd.
Result<bool, LaunchError> is_batch_program(const std::u16string& resolved,
                                           ProgramSearchSystem& system);

// PATH entries in order: split at ';' outside double quotes, quotes dropped,
// empty entries skipped.
std::vector<std::u16string> split_path_variable(std::u16string_view path);

}  // namespace nuv
