#include "platform/process/output_pipe_win.h"

#include "platform/process/nt_status_win.h"
#include "platform/process/ntdll_win.h"

namespace nuv {
namespace {

constexpr ULONG kPipeByteStreamType = 0;
constexpr ULONG kPipeByteStreamMode = 0;
constexpr ULONG kPipeQueueOperation = 0;
constexpr ULONG kPipeQuota = 65536;
constexpr LONGLONG kPipeDefaultTimeout = -50 * 10'000;  // 50 ms, relative, in 100 ns units

Unexpected<OsError> missing_api_error() { return unexpected(OsError{ERROR_PROC_NOT_FOUND}); }

}  // namespace

Result<UniqueHandle, OsError> open_pipe_root() {
  const NtApi& nt = nt_api();
  if (!nt.complete()) return missing_api_error();
  wchar_t root_name[] = L"\\??\\PIPE\\";
  UNICODE_STRING name{static_cast<USHORT>(sizeof(root_name) - sizeof(wchar_t)),
                      static_cast<USHORT>(sizeof(root_name)), root_name};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  IO_STATUS_BLOCK io{};
  UniqueHandle root;
  const NTSTATUS status =
      nt.open_file(root.put(), GENERIC_READ | SYNCHRONIZE, &attributes, &io,
                   FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_SYNCHRONOUS_IO_NONALERT);
  if (status < 0) {
    root.release();  // the system may have left anything in the slot
    return unexpected(nt_status_to_error(status));
  }
  return root;
}

Result<PipeEnds, OsError> create_output_pipe(HANDLE root) {
  const NtApi& nt = nt_api();
  if (!nt.complete()) return missing_api_error();
  UNICODE_STRING no_name{0, 0, nullptr};
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io{};
  LARGE_INTEGER timeout;
  timeout.QuadPart = kPipeDefaultTimeout;
  PipeEnds ends;

  // Our end: read access, asynchronous (no FILE_SYNCHRONOUS_IO_* option), so
  // that CancelIoEx can end a pending read; not inheritable.
  InitializeObjectAttributes(&attributes, &no_name, OBJ_CASE_INSENSITIVE, root, nullptr);
  NTSTATUS status = nt.create_named_pipe_file(
      ends.ours.put(), GENERIC_READ | SYNCHRONIZE, &attributes, &io,
      FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE, 0, kPipeByteStreamType, kPipeByteStreamMode,
      kPipeQueueOperation, 1, kPipeQuota, kPipeQuota, &timeout);
  if (status < 0) {
    ends.ours.release();
    return unexpected(nt_status_to_error(status));
  }

  // The child's end, opened relative to ours: an ordinary synchronous file
  // for the child's C runtime, and inheritable.
  InitializeObjectAttributes(&attributes, &no_name, OBJ_CASE_INSENSITIVE | OBJ_INHERIT,
                             ends.ours.get(), nullptr);
  status = nt.open_file(ends.child.put(), GENERIC_WRITE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                        &attributes, &io, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE);
  if (status < 0) {
    ends.child.release();
    return unexpected(nt_status_to_error(status));
  }
  return ends;
}

}  // namespace nuv
