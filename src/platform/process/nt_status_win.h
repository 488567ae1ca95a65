// The Win32 error code of an NTSTATUS, for the native calls whose failures
// reach the log as system errors.
#pragma once

#include "common/os_error.h"

namespace nuv {

// The system's mapping; ERROR_GEN_FAILURE when ntdll offers none.
OsError nt_status_to_error(long status);

}  // namespace nuv
