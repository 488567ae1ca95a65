#include "watchdog/message_sink_win.h"

#include <atomic>
#include <string>
#include <string_view>

#include "common/win32.h"
#include "common/unique_handle.h"
#include "common/wide.h"

namespace nuv {
namespace {

// Cancels the calling thread's synchronous I/O when it is still running after
// a limit. The cancellation comes from a thread-pool timer, the only other
// thread that could end a WriteFile blocked on a full pipe.
class WriteDeadline {
 public:
  explicit WriteDeadline(std::chrono::milliseconds limit) : limit_(limit) {
    HANDLE thread = nullptr;
    if (::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                          &thread, THREAD_TERMINATE, FALSE, 0)) {
      thread_.reset(thread);
      timer_ = ::CreateThreadpoolTimer(&WriteDeadline::expired, thread, nullptr);
    }
    if (timer_ == nullptr) return;  // no deadline then: the write runs as it would without one
    FILETIME due;
    // Negative: relative to now, in units of 100 ns.
    const LONGLONG relative = -static_cast<LONGLONG>(limit_.count()) * 10'000;
    due.dwLowDateTime = static_cast<DWORD>(relative & 0xFFFFFFFF);
    due.dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(relative) >> 32);
    ::SetThreadpoolTimer(timer_, &due, 0, 0);
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

 private:
  static void CALLBACK expired(PTP_CALLBACK_INSTANCE, PVOID thread, PTP_TIMER) {
    ::CancelSynchronousIo(static_cast<HANDLE>(thread));
  }

  std::chrono::milliseconds limit_;
  UniqueHandle thread_;
  PTP_TIMER timer_ = nullptr;
};

enum class Written { all, failed, cancelled };

Written outcome_of_failure() {
  return ::GetLastError() == ERROR_OPERATION_ABORTED ? Written::cancelled : Written::failed;
}

Written write_console(HANDLE console, std::string_view text) {
  const auto wide = to_wide(text);
  if (!wide) return Written::failed;
  const wchar_t* data = wide->data();
  std::size_t left = wide->size();
  while (left > 0) {
    const std::size_t chunk = console_chunk_length(data, left, 0x8000);
    DWORD written = 0;
    if (!::WriteConsoleW(console, data, static_cast<DWORD>(chunk), &written, nullptr)) {
      return outcome_of_failure();
    }
    if (written == 0) return Written::failed;
    data += written;
    left -= written;
  }
  return Written::all;
}

Written write_bytes(HANDLE file, std::string_view text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(left < 0x10000 ? left : 0x10000);
    if (!::WriteFile(file, data, chunk, &written, nullptr)) return outcome_of_failure();
    if (written == 0) return Written::failed;
    data += written;
    left -= written;
  }
  return Written::all;
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
  DWORD mode = 0;
  const Written written =
      ::GetConsoleMode(handle, &mode) ? write_console(handle, text) : write_bytes(handle, text);
  // A reader that stalled once is not waited for again: every later line
  // would cost the full limit.
  if (written == Written::cancelled) stalled_ = true;
}

}  // namespace nuv
