// The child's output pipes, made and read through the native API: unnamed
// pipes under the pipe file system root, whose server end we read
// asynchronously so that a read can be cancelled from another thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "common/result.h"
#include "common/unique_handle_win.h"
#include "platform/process/command.h"
#include "platform/process/launch_error.h"

namespace nuv {

// One pipe: our end for reading (not inheritable), the child's end for
// writing (inheritable).
struct PipeEnds {
  UniqueHandle ours;
  UniqueHandle child;
};

// The pipe file system's root folder, relative to which unnamed pipes are made.
Result<UniqueHandle, LaunchError> open_pipe_root();

// A byte-stream pipe with 64 KiB quotas each way.
Result<PipeEnds, LaunchError> create_output_pipe(HANDLE root);

// One read of a pipe, as NtReadFile completes it: its NTSTATUS and, on
// success, how many bytes it put into the buffer (which may be none).
struct PipeReadResult {
  long status = 0;
  std::size_t transferred = 0;
};
using PipeReadFunction = std::function<PipeReadResult(char* buffer, std::size_t size)>;

// Reads one pipe to its end on a blocking worker; cancel() may be called from
// any thread and makes read_to_end() return promptly.
class PipeReader {
 public:
  static constexpr std::size_t kReadChunk = std::size_t{2} * 1024 * 1024;

  explicit PipeReader(UniqueHandle pipe) : pipe_(std::move(pipe)) {}
  // Reads through `read` instead of the pipe: for tests of the loop.
  explicit PipeReader(PipeReadFunction read) : read_(std::move(read)) {}

  // 0 at the end of the stream (or once cancelled), else the system error
  // code of the failed read; ERROR_NOT_ENOUGH_MEMORY when memory ran out.
  // The first kCaptureLimit bytes that arrived are kept in order. Throws
  // nothing: it runs on a thread where nobody could catch.
  std::uint32_t read_to_end() noexcept;
  void cancel();

  // Only once read_to_end() has returned.
  std::string take() { return std::move(data_); }
  std::uint64_t dropped() const { return dropped_; }
  void close() { pipe_.reset(); }

 private:
  PipeReadResult read_pipe(char* buffer, std::size_t size);
  std::uint32_t keep(const char* bytes, std::size_t size) noexcept;

  UniqueHandle pipe_;
  PipeReadFunction read_;
  std::mutex mutex_;  // orders cancel() against the start of each read
  bool cancelled_ = false;
  std::string data_;
  std::uint64_t dropped_ = 0;
};

// The Windows error code for memory running out (ERROR_NOT_ENOUGH_MEMORY):
// how an allocation failure inside a run ends that run.
inline constexpr std::uint32_t kOutOfMemoryError = 8;

// Win32 error code for an NTSTATUS.
std::uint32_t nt_status_to_error(long status);

}  // namespace nuv
