#include "platform/rollback/internet_settings_win.h"

#include <string>
#include <utility>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/path.h"
#include "common/proc_address_win.h"
#include "common/sized_buffer_win.h"
#include "common/unique_handle_win.h"

#include <wininet.h>

namespace nuv {

Result<void, std::string> announce_internet_settings_changed() {
  // Only the system's own copy: a wininet.dll in the program's folder, the
  // current folder or PATH would otherwise run with the watchdog's rights.
  const auto system_folder =
      ask_sized([](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); });
  if (!system_folder) {
    return unexpected("the system folder is unknown: " + os_error_text(system_folder.error().code));
  }
  const std::u16string folder(system_folder->begin(), system_folder->end());
  const std::u16string path = join_path(folder, u"wininet.dll");
  const UniqueModule wininet(::LoadLibraryExW(reinterpret_cast<const wchar_t*>(path.c_str()),
                                              nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!wininet) return unexpected("wininet.dll not loaded: " + os_error_text(::GetLastError()));
  const auto set_option = proc_address<BOOL WINAPI(HINTERNET, DWORD, LPVOID, DWORD)>(
      wininet.get(), "InternetSetOptionW");
  if (set_option == nullptr) {
    return unexpected("wininet.dll has no InternetSetOptionW: " + os_error_text(::GetLastError()));
  }
  // Both are asked for, whatever the first answered: each may reach programs
  // the other does not.
  std::string failures;
  for (const auto& [option, name] :
       {std::pair<DWORD, const char*>{INTERNET_OPTION_SETTINGS_CHANGED,
                                      "INTERNET_OPTION_SETTINGS_CHANGED"},
        {INTERNET_OPTION_REFRESH, "INTERNET_OPTION_REFRESH"}}) {
    if (set_option(nullptr, option, nullptr, 0)) continue;
    // WinINet's errors have their texts in wininet.dll.
    const DWORD error = ::GetLastError();
    if (!failures.empty()) failures += "; ";
    failures += std::string("InternetSetOptionW(") + name +
                ") failed: " + os_error_text(error, wininet.get());
  }
  if (!failures.empty()) return unexpected(std::move(failures));
  return {};
}

}  // namespace nuv
