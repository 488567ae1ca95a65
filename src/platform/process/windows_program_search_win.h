// The program search's questions answered by the running system.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/process/program_search.h"

namespace nuv {

class WindowsProgramSearch final : public ProgramSearchSystem {
 public:
  bool exists(const std::u16string& path) override;
  std::optional<std::u16string> executable_path() override;
  Result<std::u16string, LaunchError> system_directory() override;
  std::optional<std::u16string> windows_directory() override;
  std::optional<std::u16string> path_variable() override;
  Result<std::u16string, LaunchError> full_path(const std::u16string& path) override;
};

// A path as handed to the system: unchanged when short, in the \\?\ form
// when it reaches the classic MAX_PATH limit. Empty when it holds a NUL.
std::optional<std::wstring> to_system_path(std::u16string_view path);

}  // namespace nuv
