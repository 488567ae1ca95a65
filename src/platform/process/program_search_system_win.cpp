#include "platform/process/program_search_system_win.h"

#include "common/win32.h"
#include "common/os_error.h"
#include "common/sized_buffer_win.h"

namespace nuv {
namespace {

std::u16string to_u16(std::wstring_view wide) { return std::u16string(wide.begin(), wide.end()); }

}  // namespace

std::optional<std::wstring> to_system_path(std::u16string_view path) {
  if (path.find(u'\0') != std::u16string_view::npos) return std::nullopt;
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

namespace {

bool exists(const std::u16string& path) {
  const auto system_path = to_system_path(path);
  return system_path && ::GetFileAttributesW(system_path->c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::u16string> executable_path() {
  // GetModuleFileNameW truncates instead of failing when the buffer is short:
  // it then returns the buffer's full size, which ask_sized takes as "larger".
  auto path = ask_sized(
      [](wchar_t* buffer, DWORD size) { return ::GetModuleFileNameW(nullptr, buffer, size); });
  if (!path) return std::nullopt;
  return to_u16(*path);
}

Result<std::u16string, LaunchError> system_directory() {
  auto folder =
      ask_sized([](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); });
  if (!folder) {
    const DWORD code = ::GetLastError();
    return unexpected(LaunchError::from_os(code));
  }
  return to_u16(*folder);
}

std::optional<std::u16string> windows_directory() {
  auto folder =
      ask_sized([](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); });
  if (!folder) return std::nullopt;
  return to_u16(*folder);
}

std::optional<std::u16string> path_variable() {
  auto value = ask_sized(
      [](wchar_t* buffer, DWORD size) { return ::GetEnvironmentVariableW(L"PATH", buffer, size); });
  if (!value) return std::nullopt;
  return to_u16(*value);
}

Result<std::u16string, LaunchError> full_path(const std::u16string& path) {
  const auto system_path = to_system_path(path);
  if (!system_path) return unexpected(LaunchError::invalid_input(kNulInPathText));
  auto full = ask_sized([&](wchar_t* buffer, DWORD size) {
    return ::GetFullPathNameW(system_path->c_str(), size, buffer, nullptr);
  });
  if (!full) {
    const DWORD code = ::GetLastError();
    return unexpected(LaunchError::from_os(code));
  }
  return to_u16(*full);
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
