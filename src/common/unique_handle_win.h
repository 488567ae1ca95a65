// The close policies of the Win32 handles the program holds, and their owners.
#pragma once

#include "common/win32.h"
#include "common/unique_resource.h"

namespace nuv {

// The close guard of every Win32 close policy: the thread's last error after
// a close is what it was before, whether the close succeeded or failed, as
// WIL's and Chromium's owners keep it. A failure path may drop an owner
// before its caller reads GetLastError.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(::GetLastError()) {}
  ~LastErrorKeeper() { ::SetLastError(saved_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  DWORD saved_;
};

struct NullHandleTraits {
  using CloseGuard = LastErrorKeeper;
  using Pointer = HANDLE;
  static Pointer invalid() { return nullptr; }
  static void close(Pointer h) { ::CloseHandle(h); }
};

// File handles, whose failure value is INVALID_HANDLE_VALUE rather than null.
struct FileHandleTraits {
  using CloseGuard = LastErrorKeeper;
  using Pointer = HANDLE;
  static Pointer invalid() { return INVALID_HANDLE_VALUE; }
  static void close(Pointer h) { ::CloseHandle(h); }
};

// A search begun with FindFirstFileW.
struct FindHandleTraits {
  using CloseGuard = LastErrorKeeper;
  using Pointer = HANDLE;
  static Pointer invalid() { return INVALID_HANDLE_VALUE; }
  static void close(Pointer h) { ::FindClose(h); }
};

struct ModuleTraits {
  using CloseGuard = LastErrorKeeper;
  using Pointer = HMODULE;
  static Pointer invalid() { return nullptr; }
  static void close(Pointer h) { ::FreeLibrary(h); }
};

// A wait registered with RegisterWaitForSingleObject. Unregistering waits
// for a callback that is already running, so whatever the callback uses may
// be freed as soon as the owner is gone.
struct WaitRegistrationTraits {
  using CloseGuard = LastErrorKeeper;
  using Pointer = HANDLE;
  static Pointer invalid() { return nullptr; }
  static void close(Pointer h) { ::UnregisterWaitEx(h, INVALID_HANDLE_VALUE); }
};

// A thread-pool timer. Closing disarms it first and waits for a callback that
// is already running, so that none can start or still run once it is gone.
struct ThreadpoolTimerTraits {
  using CloseGuard = LastErrorKeeper;
  using Pointer = PTP_TIMER;
  static Pointer invalid() { return nullptr; }
  static void close(Pointer timer) {
    ::SetThreadpoolTimer(timer, nullptr, 0, 0);
    ::WaitForThreadpoolTimerCallbacks(timer, TRUE);
    ::CloseThreadpoolTimer(timer);
  }
};

using UniqueHandle = UniqueResource<NullHandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueWaitRegistration = UniqueResource<WaitRegistrationTraits>;
using UniqueThreadpoolTimer = UniqueResource<ThreadpoolTimerTraits>;

}  // namespace nuv
