#include "platform/process/system_path_win.h"

#include "common/win32.h"
#include "common/sized_buffer_win.h"

namespace nuv {

Result<std::wstring, LaunchError> to_system_path(std::u16string_view path) {
  if (path.find(u'\0') != std::u16string_view::npos) {
    return unexpected(LaunchError::invalid_input(kNulInPathText));
  }
  std::wstring wide(path.begin(), path.end());
  if (wide.size() < MAX_PATH || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  // The \\?\ form turns off the system's own normalisation, so the path is
  // made full first.
  auto full = ask_sized([&](wchar_t* buffer, DWORD size) {
    return ::GetFullPathNameW(wide.c_str(), size, buffer, nullptr);
  });
  if (!full) return wide;
  if (full->rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full->substr(2);
  return L"\\\\?\\" + *full;
}

}  // namespace nuv
