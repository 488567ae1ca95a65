// Reading one of a child's output pipes to its end on a blocking worker,
// keeping the first kCaptureLimit bytes and counting the rest, in a way that
// another thread can cancel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "common/os_error.h"
#include "common/result.h"
#include "common/unique_handle_win.h"

namespace nuv {

// One read of a pipe, as NtReadFile completes it: its NTSTATUS and, on
// success, how many bytes it put into the buffer (which may be none).
struct PipeReadResult {
  long status = 0;
  std::size_t transferred = 0;
};
using PipeReadFunction = std::function<PipeReadResult(char* buffer, std::size_t size)>;

// cancel() may be called from any thread and makes read_to_end() return
// promptly.
class PipeReader {
 public:
  static constexpr std::size_t kReadChunk = std::size_t{2} * 1024 * 1024;

  explicit PipeReader(UniqueHandle pipe) : pipe_(std::move(pipe)) {}
  // Reads through `read` instead of the pipe: for tests of the loop.
  explicit PipeReader(PipeReadFunction read) : read_(std::move(read)) {}

  // Succeeds at the end of the stream (or once cancelled); fails with the
  // system error of the failed read, kOutOfMemoryError when memory ran out.
  // The first kCaptureLimit bytes that arrived are kept in order. Throws
  // nothing: it runs on a thread where nobody could catch.
  Result<void, OsError> read_to_end() noexcept;
  void cancel();

  // Only once read_to_end() has returned.
  std::string take() { return std::move(data_); }
  std::uint64_t dropped() const { return dropped_; }
  void close() { pipe_.reset(); }

 private:
  PipeReadResult read_pipe(char* buffer, std::size_t size);
  Result<void, OsError> keep(const char* bytes, std::size_t size) noexcept;

  UniqueHandle pipe_;
  PipeReadFunction read_;
  std::mutex mutex_;  // orders cancel() against the start of each read
  bool cancelled_ = false;
  std::string data_;
  std::uint64_t dropped_ = 0;
};

}  // namespace nuv
