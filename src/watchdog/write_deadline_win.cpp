#include "watchdog/write_deadline_win.h"

namespace nuv {

WriteDeadline::WriteDeadline(std::chrono::milliseconds limit) {
  HANDLE thread = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                         &thread, THREAD_TERMINATE, FALSE, 0)) {
    return;
  }
  thread_.reset(thread);
  timer_.reset(::CreateThreadpoolTimer(&WriteDeadline::expired, this, nullptr));
  if (!timer_) return;
  FILETIME due;
  // Negative: relative to now, in units of 100 ns.
  const LONGLONG relative = -static_cast<LONGLONG>(limit.count()) * 10'000;
  due.dwLowDateTime = static_cast<DWORD>(relative & 0xFFFFFFFF);
  due.dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(relative) >> 32);
  ::SetThreadpoolTimer(timer_.get(), &due, static_cast<DWORD>(kMessageRecancelPeriod.count()), 0);
}

void CALLBACK WriteDeadline::expired(PTP_CALLBACK_INSTANCE, PVOID context, PTP_TIMER) {
  auto* self = static_cast<WriteDeadline*>(context);
  // Marked first: a call that the cancellation ends finds the mark.
  self->passed_.store(true);
  ::CancelSynchronousIo(self->thread_.get());
}

}  // namespace nuv
