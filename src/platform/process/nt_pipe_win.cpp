#include "platform/process/nt_pipe_win.h"

#include <algorithm>
#include <memory>
#include <new>

#include "common/win32.h"
#include <winternl.h>

#include "common/os_error.h"
#include "common/proc_address_win.h"

namespace nuv {
namespace {

using NtCreateNamedPipeFileFn = NTSTATUS NTAPI(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                               PIO_STATUS_BLOCK, ULONG, ULONG, ULONG, ULONG, ULONG,
                                               ULONG, ULONG, ULONG, ULONG, PLARGE_INTEGER);
using NtOpenFileFn = NTSTATUS NTAPI(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                    ULONG, ULONG);
using NtReadFileFn = NTSTATUS NTAPI(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID,
                                    ULONG, PLARGE_INTEGER, PULONG);
using RtlNtStatusToDosErrorFn = ULONG NTAPI(NTSTATUS);

constexpr NTSTATUS kStatusPending = 0x00000103;
constexpr NTSTATUS kStatusEndOfFile = static_cast<NTSTATUS>(0xC0000011);
constexpr NTSTATUS kStatusCancelled = static_cast<NTSTATUS>(0xC0000120);
constexpr NTSTATUS kStatusPipeBroken = static_cast<NTSTATUS>(0xC000014B);

constexpr ULONG kPipeByteStreamType = 0;
constexpr ULONG kPipeByteStreamMode = 0;
constexpr ULONG kPipeQueueOperation = 0;
constexpr ULONG kPipeQuota = 65536;
constexpr LONGLONG kPipeDefaultTimeout = -50 * 10'000;  // 50 ms, relative, in 100 ns units

struct NtApi {
  NtCreateNamedPipeFileFn* create_named_pipe_file = nullptr;
  NtOpenFileFn* open_file = nullptr;
  NtReadFileFn* read_file = nullptr;
  RtlNtStatusToDosErrorFn* status_to_error = nullptr;

  bool complete() const {
    return create_named_pipe_file && open_file && read_file && status_to_error;
  }
};

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

LaunchError status_error(NTSTATUS status) {
  const std::uint32_t code = nt_status_to_error(status);
  return LaunchError::from_os(code);
}

LaunchError missing_api_error() { return LaunchError::from_os(ERROR_PROC_NOT_FOUND); }

}  // namespace

std::uint32_t nt_status_to_error(long status) {
  const NtApi& nt = nt_api();
  return nt.status_to_error ? nt.status_to_error(status) : ERROR_GEN_FAILURE;
}

Result<UniqueHandle, LaunchError> open_pipe_root() {
  const NtApi& nt = nt_api();
  if (!nt.complete()) return unexpected(missing_api_error());
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
    return unexpected(status_error(status));
  }
  return root;
}

Result<PipeEnds, LaunchError> create_output_pipe(HANDLE root) {
  const NtApi& nt = nt_api();
  if (!nt.complete()) return unexpected(missing_api_error());
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
    return unexpected(status_error(status));
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
    return unexpected(status_error(status));
  }
  return ends;
}

std::uint32_t PipeReader::read_to_end() noexcept {
  const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadChunk]);
  if (!buffer) return kOutOfMemoryError;
  for (;;) {
    PipeReadResult read;
    try {
      read = read_ ? read_(buffer.get(), kReadChunk) : read_pipe(buffer.get(), kReadChunk);
    } catch (const std::bad_alloc&) {
      return kOutOfMemoryError;
    } catch (...) {
      return ERROR_GEN_FAILURE;
    }
    // Only these end the stream. A read of 0 bytes does not: on Windows it
    // completes whenever the writer writes 0 bytes, and more may follow.
    if (read.status == kStatusEndOfFile || read.status == kStatusPipeBroken ||
        read.status == kStatusCancelled) {
      return 0;
    }
    if (read.status < 0) return nt_status_to_error(read.status);
    if (const std::uint32_t error = keep(buffer.get(), read.transferred); error != 0) return error;
  }
}

std::uint32_t PipeReader::keep(const char* bytes, std::size_t size) noexcept {
  const std::size_t room = kCaptureLimit - std::min(data_.size(), kCaptureLimit);
  const std::size_t kept = std::min(size, room);
  try {
    data_.append(bytes, kept);
  } catch (const std::bad_alloc&) {
    return kOutOfMemoryError;
  }
  dropped_ += size - kept;
  return 0;
}

PipeReadResult PipeReader::read_pipe(char* buffer, std::size_t size) {
  const NtApi& nt = nt_api();
  IO_STATUS_BLOCK io{};
  NTSTATUS status;
  {
    // A cancel() that comes before this read starts is seen here; one that
    // comes after finds the read pending and cancels it.
    std::lock_guard lock(mutex_);
    if (cancelled_) return {kStatusCancelled, 0};
    io.Status = kStatusPending;
    status = nt.read_file(pipe_.get(), nullptr, nullptr, nullptr, &io, buffer,
                          static_cast<ULONG>(size), nullptr, nullptr);
  }
  if (status == kStatusPending) {
    // Without an event of its own, the file object is signalled when the
    // transfer ends.
    ::WaitForSingleObject(pipe_.get(), INFINITE);
    status = io.Status;
  }
  return {status, status < 0 ? 0 : static_cast<std::size_t>(io.Information)};
}

void PipeReader::cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  ::CancelIoEx(pipe_.get(), nullptr);
}

}  // namespace nuv
