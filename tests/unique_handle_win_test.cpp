// The owners of the program's Win32 resources. Letting one go leaves the
// thread's last error as it was: a failure path that drops an owner before
// its caller reads GetLastError still reports the call that failed.
#include <gtest/gtest.h>

#include <concepts>
#include <utility>

#include "common/win32.h"
#include "common/unique_handle_win.h"
#include "platform/process/inherited_handle_list_win.h"
#include "platform/wintun/cleanup_lock_win.h"
#include "platform/wintun/wintun_adapter_win.h"
#include "state/held_mutex_win.h"

namespace nuv {
namespace {

// No close sets this one, so a close that sets a code of its own shows.
constexpr DWORD kEarlierError = ERROR_BAD_NETPATH;

template <class Traits>
concept KeepsTheLastError = requires {
  requires std::same_as<typename Traits::CloseGuard, LastErrorKeeper>;
};

// Every close policy of the program, wherever it lives: a new one without the
// guard would let its owners change the last error again.
static_assert(KeepsTheLastError<NullHandleTraits>);
static_assert(KeepsTheLastError<FileHandleTraits>);
static_assert(KeepsTheLastError<FindHandleTraits>);
static_assert(KeepsTheLastError<ModuleTraits>);
static_assert(KeepsTheLastError<WaitRegistrationTraits>);
static_assert(KeepsTheLastError<ThreadpoolTimerTraits>);
static_assert(KeepsTheLastError<HeldMutexTraits>);
static_assert(KeepsTheLastError<CleanupLockTraits>);
static_assert(KeepsTheLastError<AdapterHandleTraits>);
static_assert(KeepsTheLastError<AttributeListTraits>);

HANDLE new_event() { return ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }

bool is_open(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != 0;
}

// A real handle that CloseHandle refuses (ERROR_INVALID_HANDLE) until the
// protection is lifted again: a close that fails, without ever closing a
// value the system may have handed out anew.
HANDLE protected_event() {
  const HANDLE event = new_event();
  if (event != nullptr) {
    ::SetHandleInformation(event, HANDLE_FLAG_PROTECT_FROM_CLOSE, HANDLE_FLAG_PROTECT_FROM_CLOSE);
  }
  return event;
}

void close_protected(HANDLE event) {
  ::SetHandleInformation(event, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0);
  ::CloseHandle(event);
}

TEST(UniqueHandle, ResetAndDestructionCloseTheHandleAndKeepTheLastError) {
  UniqueHandle reset_one(new_event());
  ASSERT_TRUE(reset_one);
  const HANDLE reset_value = reset_one.get();
  ::SetLastError(kEarlierError);
  reset_one.reset();
  EXPECT_EQ(::GetLastError(), kEarlierError);
  EXPECT_FALSE(is_open(reset_value));

  HANDLE destroyed_value = nullptr;
  {
    const UniqueHandle destroyed(new_event());
    ASSERT_TRUE(destroyed);
    destroyed_value = destroyed.get();
    ::SetLastError(kEarlierError);
  }
  EXPECT_EQ(::GetLastError(), kEarlierError);
  EXPECT_FALSE(is_open(destroyed_value));
}

TEST(UniqueHandle, ACloseThatFailsKeepsTheLastError) {
  const HANDLE refused = protected_event();
  ASSERT_NE(refused, nullptr);
  ::SetLastError(0);
  ASSERT_FALSE(::CloseHandle(refused)) << "this system closes a handle protected from close";
  ASSERT_NE(::GetLastError(), 0u) << "the refused close set no code: there is nothing to keep out";

  UniqueHandle reset_one(refused);
  ::SetLastError(kEarlierError);
  reset_one.reset();
  EXPECT_EQ(::GetLastError(), kEarlierError) << "after reset";

  {
    const UniqueHandle destroyed(refused);
    ::SetLastError(kEarlierError);
  }
  EXPECT_EQ(::GetLastError(), kEarlierError) << "after destruction";

  UniqueHandle moved_over(refused);
  UniqueHandle replacement(new_event());  // CreateEventW sets the last error itself
  ::SetLastError(kEarlierError);
  moved_over = std::move(replacement);
  EXPECT_EQ(::GetLastError(), kEarlierError) << "after a move over it";

  close_protected(refused);
}

// A mutex this thread does not hold: ReleaseMutex fails (ERROR_NOT_OWNER)
// before the handle is closed.
TEST(UniqueHandle, AHeldMutexReleasedByTheWrongThreadKeepsTheLastError) {
  const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, nullptr);
  ASSERT_NE(mutex, nullptr);
  {
    const UniqueHeldMutex held(mutex);
    ::SetLastError(kEarlierError);
  }
  EXPECT_EQ(::GetLastError(), kEarlierError);
  EXPECT_FALSE(is_open(mutex));
}

TEST(UniqueHandle, TimerAndWaitOwnersKeepTheLastError) {
  UniqueThreadpoolTimer timer(
      ::CreateThreadpoolTimer([](PTP_CALLBACK_INSTANCE, void*, PTP_TIMER) {}, nullptr, nullptr));
  ASSERT_TRUE(timer);
  FILETIME later{};  // relative: an hour, so it never fires here
  const LONGLONG hour = -36'000'000'000LL;
  later.dwLowDateTime = static_cast<DWORD>(hour & 0xFFFFFFFF);
  later.dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(hour) >> 32);
  ::SetThreadpoolTimer(timer.get(), &later, 0, 0);
  ::SetLastError(kEarlierError);
  timer.reset();
  EXPECT_EQ(::GetLastError(), kEarlierError) << "timer";

  const UniqueHandle event(new_event());
  ASSERT_TRUE(event);
  HANDLE wait = nullptr;
  ASSERT_TRUE(::RegisterWaitForSingleObject(
      &wait, event.get(), [](void*, BOOLEAN) {}, nullptr, INFINITE, WT_EXECUTEONLYONCE));
  UniqueWaitRegistration registration(wait);
  ::SetLastError(kEarlierError);
  registration.reset();
  EXPECT_EQ(::GetLastError(), kEarlierError) << "wait registration";
}

}  // namespace
}  // namespace nuv
