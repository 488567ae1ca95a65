// The state recovery on the real system: APPDATA, the files, the lock of the
// journal, and a runtime of its own on which every undo runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/log.h"

namespace nuv {

// The messages of the undos that failed, possibly none; absent when there
// was nothing to recover. `log` gets the run's detail lines.
std::optional<std::vector<std::string>> recover_system_state(Log& log);

}  // namespace nuv
