// The native calls of ntdll that the output pipes are made and read with,
// looked up once. The Win32 pipe calls cannot make a pipe whose server end
// reads asynchronously while the child's end stays an ordinary file.
#pragma once

#include "common/win32.h"
#include <winternl.h>

namespace nuv {

using NtCreateNamedPipeFileFn = NTSTATUS NTAPI(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                               PIO_STATUS_BLOCK, ULONG, ULONG, ULONG, ULONG, ULONG,
                                               ULONG, ULONG, ULONG, ULONG, PLARGE_INTEGER);
using NtOpenFileFn = NTSTATUS NTAPI(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                    ULONG, ULONG);
using NtReadFileFn = NTSTATUS NTAPI(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID,
                                    ULONG, PLARGE_INTEGER, PULONG);
using RtlNtStatusToDosErrorFn = ULONG NTAPI(NTSTATUS);

// Each entry point, or null when ntdll lacks it.
struct NtApi {
  NtCreateNamedPipeFileFn* create_named_pipe_file = nullptr;
  NtOpenFileFn* open_file = nullptr;
  NtReadFileFn* read_file = nullptr;
  RtlNtStatusToDosErrorFn* status_to_error = nullptr;

  bool complete() const {
    return create_named_pipe_file && open_file && read_file && status_to_error;
  }
};

const NtApi& nt_api();

}  // namespace nuv
