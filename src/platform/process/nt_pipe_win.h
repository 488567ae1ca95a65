// The child's output pipes, made and read through the native API: unnamed
// pipes under the pipe file system root, whose server end we read
// asynchronously so that a read can be cancelled from another thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "common/result.h"
#include "common/unique_handle.h"
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

// Reads one pipe to its end on a blocking worker; cancel() may be called from
// any thread and makes read_to_end() return promptly.
class PipeReader {
 public:
  static constexpr unsigned long kReadChunk = 2 * 1024 * 1024;

  explicit PipeReader(UniqueHandle pipe) : pipe_(std::move(pipe)) {}

  // 0 at the end of the stream (or once cancelled), else the system error
  // code of the failed read. What arrived is kept in order.
  std::uint32_t read_to_end();
  void cancel();

  // Only once read_to_end() has returned.
  std::string take() { return std::move(data_); }
  void close() { pipe_.reset(); }

 private:
  UniqueHandle pipe_;
  std::mutex mutex_;  // orders cancel() against the start of each read
  bool cancelled_ = false;
  std::string data_;
};

// Win32 error code for an NTSTATUS.
std::uint32_t nt_status_to_error(long status);

}  // namespace nuv
