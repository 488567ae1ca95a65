#include "platform/process/nt_status_win.h"

#include "platform/process/ntdll_win.h"

namespace nuv {

OsError nt_status_to_error(long status) {
  const NtApi& nt = nt_api();
  return OsError{nt.status_to_error ? nt.status_to_error(status) : ERROR_GEN_FAILURE};
}

}  // namespace nuv
