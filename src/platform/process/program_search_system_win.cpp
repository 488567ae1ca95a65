#include "platform/process/program_search_system_win.h"

#include <functional>
#include <string>

#include "common/win32.h"
#include "common/sized_buffer_win.h"
#include "platform/process/system_path_win.h"

namespace nuv {
namespace {

// One answer of a "fill this buffer" call, or the system's error.
Result<std::u16string, LaunchError> ask_text(const std::function<DWORD(wchar_t*, DWORD)>& ask) {
  auto text = ask_sized(ask);
  if (!text) return unexpected(LaunchError::from_os(text.error()));
  return std::u16string(text->begin(), text->end());
}

bool exists(const std::u16string& path) {
  const auto system_path = to_system_path(path);
  return system_path && ::GetFileAttributesW(system_path->c_str()) != INVALID_FILE_ATTRIBUTES;
}

Result<std::u16string, LaunchError> executable_path() {
  // GetModuleFileNameW truncates instead of failing when the buffer is short:
  // it then returns the buffer's full size, which ask_sized takes as "larger".
  return ask_text(
      [](wchar_t* buffer, DWORD size) { return ::GetModuleFileNameW(nullptr, buffer, size); });
}

Result<std::u16string, LaunchError> system_directory() {
  return ask_text([](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); });
}

Result<std::u16string, LaunchError> windows_directory() {
  return ask_text([](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); });
}

Result<std::u16string, LaunchError> path_variable() {
  return ask_text(
      [](wchar_t* buffer, DWORD size) { return ::GetEnvironmentVariableW(L"PATH", buffer, size); });
}

Result<std::u16string, LaunchError> full_path(const std::u16string& path) {
  const auto system_path = to_system_path(path);
  if (!system_path) return unexpected(system_path.error());
  return ask_text([&](wchar_t* buffer, DWORD size) {
    return ::GetFullPathNameW(system_path->c_str(), size, buffer, nullptr);
  });
}

}  // namespace

ProgramSearchSystem windows_program_search() {
  return ProgramSearchSystem{
      .exists = exists,
      .executable_path = executable_path,
      .system_directory = system_directory,
      .windows_directory = windows_directory,
      .path_variable = path_variable,
      .full_path = full_path,
  };
}

}  // namespace nuv
