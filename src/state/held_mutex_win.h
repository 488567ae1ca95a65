// The owner of a mutex that this thread has waited for and so holds: it gives
// the mutex back, then closes its handle.
#pragma once

#include "common/win32.h"
#include "common/unique_handle_win.h"
#include "common/unique_resource.h"

namespace nuv {

// ReleaseMutex only works on the thread that holds the mutex, so the owner is
// destroyed on that thread; the handle is closed either way.
struct HeldMutexTraits {
  using CloseGuard = LastErrorKeeper;
  using Pointer = HANDLE;
  static Pointer invalid() { return nullptr; }
  static void close(Pointer mutex) {
    ::ReleaseMutex(mutex);
    ::CloseHandle(mutex);
  }
};

using UniqueHeldMutex = UniqueResource<HeldMutexTraits>;

}  // namespace nuv
