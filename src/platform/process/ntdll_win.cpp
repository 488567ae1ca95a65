#include "platform/process/ntdll_win.h"

#include "common/proc_address_win.h"

namespace nuv {

// ntdll is in every process from its first instruction, so a module handle
// without a reference is enough.
const NtApi& nt_api() {
  static const NtApi api = [] {
    NtApi loaded;
    if (const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
      loaded.create_named_pipe_file =
          proc_address<NtCreateNamedPipeFileFn>(ntdll, "NtCreateNamedPipeFile");
      loaded.open_file = proc_address<NtOpenFileFn>(ntdll, "NtOpenFile");
      loaded.read_file = proc_address<NtReadFileFn>(ntdll, "NtReadFile");
      loaded.status_to_error =
          proc_address<RtlNtStatusToDosErrorFn>(ntdll, "RtlNtStatusToDosError");
    }
    return loaded;
  }();
  return api;
}

}  // namespace nuv
