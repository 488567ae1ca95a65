#include "platform/wintun/cleanup_lock_win.h"

#include <utility>

#include "common/wide.h"

namespace nuv {

Result<UniqueCleanupLock, OsError> take_cleanup_lock(const std::string& path) {
  auto wide = to_wide(path);
  if (!wide) return unexpected(OsError{ERROR_INVALID_NAME});
  const HANDLE handle = ::CreateFileW(
      wide->c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return unexpected(OsError{::GetLastError()});
  return UniqueCleanupLock(CleanupLockFile{handle, std::move(*wide)});
}

}  // namespace nuv
