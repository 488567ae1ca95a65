#include "platform/process/pipe_reader_win.h"

#include <algorithm>
#include <memory>
#include <new>

#include "platform/process/command.h"
#include "platform/process/nt_status_win.h"
#include "platform/process/ntdll_win.h"

namespace nuv {
namespace {

constexpr NTSTATUS kStatusPending = 0x00000103;
constexpr NTSTATUS kStatusEndOfFile = static_cast<NTSTATUS>(0xC0000011);
constexpr NTSTATUS kStatusCancelled = static_cast<NTSTATUS>(0xC0000120);
constexpr NTSTATUS kStatusPipeBroken = static_cast<NTSTATUS>(0xC000014B);

constexpr OsError kOutOfMemory{kOutOfMemoryError};

}  // namespace

Result<void, OsError> PipeReader::read_to_end() noexcept {
  const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadChunk]);
  if (!buffer) return unexpected(kOutOfMemory);
  for (;;) {
    PipeReadResult read;
    try {
      read = read_ ? read_(buffer.get(), kReadChunk) : read_pipe(buffer.get(), kReadChunk);
    } catch (const std::bad_alloc&) {
      return unexpected(kOutOfMemory);
    } catch (...) {
      return unexpected(OsError{ERROR_GEN_FAILURE});
    }
    // Only these end the stream. A read of 0 bytes does not: on Windows it
    // completes whenever the writer writes 0 bytes, and more may follow.
    if (read.status == kStatusEndOfFile || read.status == kStatusPipeBroken ||
        read.status == kStatusCancelled) {
      return {};
    }
    if (read.status < 0) return unexpected(nt_status_to_error(read.status));
    if (auto kept = keep(buffer.get(), read.transferred); !kept) return kept;
  }
}

Result<void, OsError> PipeReader::keep(const char* bytes, std::size_t size) noexcept {
  const std::size_t room = kCaptureLimit - std::min(data_.size(), kCaptureLimit);
  const std::size_t kept = std::min(size, room);
  try {
    data_.append(bytes, kept);
  } catch (const std::bad_alloc&) {
    return unexpected(kOutOfMemory);
  }
  dropped_ += size - kept;
  return {};
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
