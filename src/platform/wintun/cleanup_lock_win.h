// The lock file that keeps two adapter cleanups on one machine from running
// at once.
#pragma once

#include <string>
#include <string_view>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/result.h"
#include "common/unique_handle_win.h"
#include "common/unique_resource.h"

namespace nuv {

// Its name, in the temporary folder.
inline constexpr std::string_view kCleanupLockFileName = "nuv-wintun-cleanup.lock";

// The lock file's handle and its path.
struct CleanupLockFile {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::wstring path;
  // The handle alone tells whether a lock is held.
  bool operator==(const CleanupLockFile& other) const { return handle == other.handle; }
};

// Deletes the file, then closes the handle, in that order: the name is gone
// before the handle that holds it. The deletion's failure is ignored: the
// handle was opened to delete the file on close, so the system deletes it
// then all the same.
struct CleanupLockTraits {
  using CloseGuard = LastErrorKeeper;
  using Pointer = CleanupLockFile;
  static Pointer invalid() { return {}; }
  static void close(const Pointer& lock) {
    ::DeleteFileW(lock.path.c_str());
    ::CloseHandle(lock.handle);
  }
};

// The lock file exists exactly while its owner holds it. The system deletes
// it when the handle closes, even when the watchdog is killed while holding
// it: a lock left behind would otherwise stop every later cleanup.
using UniqueCleanupLock = UniqueResource<CleanupLockTraits>;

// Creates the lock file at `path`, which must not exist yet. Fails with the
// system's code when the file is there (another cleanup holds it) or cannot
// be made, and with ERROR_INVALID_NAME for a path that is not UTF-8.
Result<UniqueCleanupLock, OsError> take_cleanup_lock(const std::string& path);

}  // namespace nuv
