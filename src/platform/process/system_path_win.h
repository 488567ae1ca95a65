// A path in the form the system's file calls take it: the \\?\ form once it
// reaches the classic MAX_PATH limit.
#pragma once

#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/process/launch_error.h"

namespace nuv {

// Unchanged when short, in the \\?\ form (made full first) when it reaches
// MAX_PATH. Fails with kNulInPathText when the path holds a NUL, which the
// system would read as its end.
Result<std::wstring, LaunchError> to_system_path(std::u16string_view path);

}  // namespace nuv
