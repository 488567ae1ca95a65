// The deadline of one line's write to a standard stream: once it passes, the
// writing thread's blocked I/O is cancelled, again and again until the write
// is given up.
#pragma once

#include <atomic>
#include <chrono>

#include "common/win32.h"
#include "common/unique_handle_win.h"

namespace nuv {

// After the limit, the write is cancelled again this often until it ends: a
// write that began just after a cancellation found nothing to cancel would
// otherwise block for good.
inline constexpr std::chrono::milliseconds kMessageRecancelPeriod{100};

// Marks the write as over its limit, and from then on cancels the calling
// thread's synchronous I/O, again every kMessageRecancelPeriod until the
// deadline is gone. The cancellation comes from a thread-pool timer, the only
// other thread that could end a WriteFile blocked on a full pipe. The mark is
// what holds when the limit passes between two system calls: the cancellation
// then ends nothing, and the next chunk must not begin. Without a timer (the
// system had none to give) the write runs as it would without a deadline.
class WriteDeadline {
 public:
  explicit WriteDeadline(std::chrono::milliseconds limit);
  // The timer's callback holds this object's address.
  WriteDeadline(const WriteDeadline&) = delete;
  WriteDeadline& operator=(const WriteDeadline&) = delete;

  bool passed() const { return passed_.load(); }

 private:
  static void CALLBACK expired(PTP_CALLBACK_INSTANCE, PVOID context, PTP_TIMER);

  UniqueHandle thread_;
  std::atomic<bool> passed_ = false;
  // Last, so that it goes first: closing it disarms it and waits for a
  // callback that still uses the thread and the mark, so that none can
  // cancel an I/O that starts after this write.
  UniqueThreadpoolTimer timer_;
};

}  // namespace nuv
