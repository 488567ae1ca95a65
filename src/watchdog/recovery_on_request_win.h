// The recovery on request on the real system.
#pragma once

#include "common/log.h"
#include "platform/process/child_standard_input_win.h"
#include "watchdog/recovery_on_request.h"

namespace nuv {

// The monitoring marker, the journal's lock, both recovery steps and the
// journal on disk, for real; `details` gets the steps' detail lines, and the
// tools get `standard_input`.
RecoveryOnRequestSystem windows_recovery_on_request_system(Log& details,
                                                           ChildStandardInput& standard_input);

}  // namespace nuv
