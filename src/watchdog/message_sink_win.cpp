#include "watchdog/message_sink_win.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/win32.h"
#include "common/unique_handle_win.h"
#include "common/wide.h"

namespace nuv {
namespace {

// Marks the write as over its limit, and from then on cancels the calling
// thread's synchronous I/O, again every kMessageRecancelPeriod until the write
// is done. The cancellation comes from a thread-pool timer, the only other
// thread that could end a WriteFile blocked on a full pipe. The mark is what
// holds when the limit passes between two system calls: the cancellation
// then ends nothing, and the next chunk must not begin.
class WriteDeadline {
 public:
  explicit WriteDeadline(std::chrono::milliseconds limit) {
    HANDLE thread = nullptr;
    if (::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                          &thread, THREAD_TERMINATE, FALSE, 0)) {
      thread_.reset(thread);
      timer_ = ::CreateThreadpoolTimer(&WriteDeadline::expired, this, nullptr);
    }
    if (timer_ == nullptr) return;  // no deadline then: the write runs as it would without one
    FILETIME due;
    // Negative: relative to now, in units of 100 ns.
    const LONGLONG relative = -static_cast<LONGLONG>(limit.count()) * 10'000;
    due.dwLowDateTime = static_cast<DWORD>(relative & 0xFFFFFFFF);
    due.dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(relative) >> 32);
    ::SetThreadpoolTimer(timer_, &due, static_cast<DWORD>(kMessageRecancelPeriod.count()), 0);
  }

  ~WriteDeadline() {
    if (timer_ == nullptr) return;
    // Disarmed, and a callback already running is waited for, so that it can
    // never cancel an I/O that starts after this write.
    ::SetThreadpoolTimer(timer_, nullptr, 0, 0);
    ::WaitForThreadpoolTimerCallbacks(timer_, TRUE);
    ::CloseThreadpoolTimer(timer_);
  }

  WriteDeadline(const WriteDeadline&) = delete;
  WriteDeadline& operator=(const WriteDeadline&) = delete;

  bool passed() const { return passed_.load(); }

 private:
  static void CALLBACK expired(PTP_CALLBACK_INSTANCE, PVOID context, PTP_TIMER) {
    auto* self = static_cast<WriteDeadline*>(context);
    // Marked first: a call that the cancellation ends finds the mark.
    self->passed_.store(true);
    ::CancelSynchronousIo(self->thread_.get());
  }

  UniqueHandle thread_;
  PTP_TIMER timer_ = nullptr;
  std::atomic<bool> passed_ = false;
};

enum class Written { kAll, kFailed, kCancelled };

// Each chunk of a line, checked against the deadline before it is begun.
class ChunkWriter {
 public:
  ChunkWriter(const WriteDeadline& deadline, const BeforeChunk& before_chunk)
      : deadline_(deadline), before_chunk_(before_chunk) {}

  // Whether the next chunk may be begun.
  bool may_begin() {
    if (deadline_.passed()) return false;
    if (before_chunk_) before_chunk_(next_++);
    return true;
  }

  Written failure() const {
    return ::GetLastError() == ERROR_OPERATION_ABORTED || deadline_.passed() ? Written::kCancelled
                                                                             : Written::kFailed;
  }

 private:
  const WriteDeadline& deadline_;
  const BeforeChunk& before_chunk_;
  std::size_t next_ = 0;
};

Written write_console(HANDLE console, std::string_view text, ChunkWriter& chunks) {
  const auto wide = to_wide(text);
  if (!wide) return Written::kFailed;
  const wchar_t* data = wide->data();
  std::size_t left = wide->size();
  while (left > 0) {
    if (!chunks.may_begin()) return Written::kCancelled;
    const std::size_t chunk = console_chunk_length(data, left, 0x8000);
    DWORD written = 0;
    if (!::WriteConsoleW(console, data, static_cast<DWORD>(chunk), &written, nullptr)) {
      return chunks.failure();
    }
    if (written == 0) return Written::kFailed;
    data += written;
    left -= written;
  }
  return Written::kAll;
}

Written write_bytes(HANDLE file, std::string_view text, ChunkWriter& chunks) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    if (!chunks.may_begin()) return Written::kCancelled;
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(left < 0x10000 ? left : 0x10000);
    if (!::WriteFile(file, data, chunk, &written, nullptr)) return chunks.failure();
    if (written == 0) return Written::kFailed;
    data += written;
    left -= written;
  }
  return Written::kAll;
}

}  // namespace

void StandardStreamSink::write_line(std::string_view line) {
  if (stalled_) return;
  const HANDLE handle =
      ::GetStdHandle(stream_ == StandardStream::kError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;

  std::string text(line);
  text += '\n';
  const WriteDeadline deadline(write_limit_);
  ChunkWriter chunks(deadline, before_chunk_);
  DWORD mode = 0;
  const bool console = ::GetConsoleMode(handle, &mode) != 0;
  // A GetConsoleMode that hung past the limit was cancelled, and its "not a
  // console" means nothing: no write follows it.
  Written written = Written::kCancelled;
  if (!deadline.passed()) {
    written = console ? write_console(handle, text, chunks) : write_bytes(handle, text, chunks);
  }
  // A reader that stalled once is not waited for again: every later line
  // would cost the full limit.
  if (written == Written::kCancelled) stalled_ = true;
}

}  // namespace nuv
