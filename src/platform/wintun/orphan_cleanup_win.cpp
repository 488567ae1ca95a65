#include "platform/wintun/orphan_cleanup_win.h"

#include <string>
#include <string_view>
#include <utility>

#include "common/win32.h"
#include "common/environment_win.h"
#include "common/list_notation.h"
#include "common/os_error.h"
#include "common/path.h"
#include "common/proc_address_win.h"
#include "common/wide.h"
#include "platform/wintun/candidate_names.h"
#include "platform/wintun/cleanup_lock_win.h"
#include "platform/wintun/wintun_adapter_win.h"
#include "platform/wintun/wintun_library_win.h"

namespace nuv {
namespace {

Result<std::string, OsError> system_temp_folder() {
  // Newer systems have GetTempPath2W (a folder of its own for SYSTEM); it is
  // looked up at run time so that older systems still start the program.
  const auto get_temp_path2 = proc_address<DWORD WINAPI(DWORD, LPWSTR)>(
      ::GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W");
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n =
      get_temp_path2 ? get_temp_path2(MAX_PATH + 1, buffer) : ::GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0) return unexpected(OsError{::GetLastError()});
  if (n > MAX_PATH) return unexpected(OsError{ERROR_BUFFER_OVERFLOW});
  auto folder = from_wide(std::wstring_view(buffer, n));
  if (!folder) return unexpected(OsError{ERROR_NO_UNICODE_TRANSLATION});
  return std::move(*folder);
}

}  // namespace

Result<std::string, OsError> cleanup_temp_folder() {
  if (auto temp = environment_variable(L"TEMP")) return std::move(*temp);
  if (auto tmp = environment_variable(L"TMP")) return std::move(*tmp);
  return system_temp_folder();
}

std::uint64_t clean_wintun_orphans(Log& log) {
  return clean_wintun_orphans(log, ::GetModuleHandleW(L"kernel32.dll"));
}

std::uint64_t clean_wintun_orphans(Log& log, HMODULE kernel32) {
  if (kernel32 == nullptr ||
      proc_address<DLL_DIRECTORY_COOKIE WINAPI(PCWSTR)>(kernel32, "AddDllDirectory") == nullptr) {
    log.write(
        "adapter cleanup skipped: this system has no safe DLL search (no AddDllDirectory in "
        "kernel32.dll; Windows 8.1 or later is needed)");
    return 0;
  }
  const auto folder = cleanup_temp_folder();
  if (!folder) {
    log.write("adapter cleanup skipped: no temporary folder: " +
              os_error_text(folder.error().code));
    return 0;
  }
  const std::string lock_path = join_path(*folder, kCleanupLockFileName);
  // Declared before the library, so that the library is released first.
  const auto lock = take_cleanup_lock(lock_path);
  if (!lock) {
    log.write("adapter cleanup skipped: the lock file " + list_notation({lock_path}) +
              " is held by another cleanup or cannot be created");
    return 0;
  }

  auto library = WintunLibrary::load();
  if (!library) {
    log.write("adapter cleanup skipped: wintun.dll not loaded: " +
              list_notation({library.error().text}));
    return 0;
  }

  std::uint64_t count = 0;
  for (const auto& name : wintun_candidate_names()) {
    auto adapter = WintunAdapter::open(*library, name);
    if (!adapter) {
      // Opened, but closed again at once as its name resolves to no
      // interface: it does not count, and the log names it all the same.
      if (adapter.error().kind == WintunErrorKind::SystemError) {
        log.write(
            "closed adapter " + list_notation({name}) +
            " without counting it: its name resolves to no interface: " + adapter.error().text);
      }
      continue;
    }
    adapter->close();
    log.write("closed adapter " + list_notation({name}));
    ++count;
  }
  return count;
}

}  // namespace nuv
