// The program search's questions answered by the running system.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/process/program_search.h"

namespace nuv {

// The search's questions answered by the running system.
ProgramSearchSystem windows_program_search();

// A path as handed to the system: unchanged when short, in the \\?\ form
// when it reaches the classic MAX_PATH limit. Absent when it holds a NUL.
std::optional<std::wstring> to_system_path(std::u16string_view path);

}  // namespace nuv
