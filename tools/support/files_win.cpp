#include "tools/support/files_win.h"

#include <atomic>

#include "common/sized_buffer_win.h"
#include "common/unique_handle_win.h"
#include "tools/support/process_win.h"
#include "tools/support/text.h"

namespace nuv::support {

Win32Result<std::wstring> temp_folder() {
  auto folder = ask_sized([](wchar_t* buffer, DWORD size) { return ::GetTempPathW(size, buffer); });
  if (!folder) return unexpected(Win32Error{"GetTempPathW", folder.error().code});
  return std::move(*folder);
}

Win32Result<std::wstring> unique_temp_path(const std::wstring& stem) {
  static std::atomic<int> counter{0};
  // Wine hands out the same small process ids run after run, so the id alone
  // would meet the leftovers of an earlier run: the process's start time,
  // in 100 ns units, tells the runs apart.
  static const std::wstring run = [] {
    FILETIME created{}, exited{}, kernel{}, user{};
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const unsigned long long stamp =
        (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(stamp);
  }();
  auto folder = temp_folder();
  if (!folder) return unexpected(std::move(folder.error()));
  return *folder + L"nuv-test-" + run + L"-" + std::to_wstring(counter++) + L"-" + stem;
}

bool exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Win32Result<void> make_folders(const std::wstring& path) {
  // Each prefix that ends before a separator, then the whole path; a drive
  // ("C:") or a root is there already.
  for (std::size_t end = path.find_first_of(L"\\/");; end = path.find_first_of(L"\\/", end + 1)) {
    const std::wstring folder = path.substr(0, end);
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    const bool there =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!folder.empty() && folder.back() != L':' && !there &&
        !::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      return last_error("CreateDirectoryW " + narrow(folder));
    }
    if (end == std::wstring::npos) return {};
  }
}

Win32Result<void> remove_tree(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    return unexpected(Win32Error{"GetFileAttributesW " + narrow(path), error});
  }
  // A read-only file or folder cannot be removed as it is.
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    ::SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (!::DeleteFileW(path.c_str())) return last_error("DeleteFileW " + narrow(path));
    return {};
  }
  Win32Result<void> outcome;
  // A link to a folder goes by itself; what it points at is not ours.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW found;
    const UniqueFindHandle search(::FindFirstFileW((path + L"\\*").c_str(), &found));
    if (search) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        auto removed = remove_tree(path + L"\\" + name);
        if (!removed && outcome) outcome = std::move(removed);
      } while (::FindNextFileW(search.get(), &found));
    }
  }
  if (!::RemoveDirectoryW(path.c_str()) && outcome) {
    return last_error("RemoveDirectoryW " + narrow(path));
  }
  return outcome;
}

Win32Result<void> copy_file(const std::wstring& from, const std::wstring& to) {
  if (!::CopyFileW(from.c_str(), to.c_str(), FALSE)) {
    return last_error("CopyFileW " + narrow(from) + " to " + narrow(to));
  }
  return {};
}

Win32Result<void> write_file(const std::wstring& path, const std::string& bytes) {
  const UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return last_error("CreateFileW " + narrow(path));
  DWORD wrote = 0;
  if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr)) {
    return last_error("WriteFile " + narrow(path));
  }
  if (wrote != bytes.size())
    return unexpected(Win32Error{"WriteFile " + narrow(path), ERROR_WRITE_FAULT});
  return {};
}

Win32Result<std::string> read_file(const std::wstring& path, DWORD share) {
  const UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return last_error("CreateFileW " + narrow(path));
  return read_to_end(file.get());
}

Win32Result<ScratchFolder> ScratchFolder::make(std::wstring path) {
  if (auto removed = remove_tree(path); !removed) return unexpected(std::move(removed.error()));
  if (auto made = make_folders(path); !made) return unexpected(std::move(made.error()));
  return ScratchFolder(std::move(path));
}

Win32Result<ScratchFolder> ScratchFolder::make_unique(const std::wstring& stem) {
  auto path = unique_temp_path(stem);
  if (!path) return unexpected(std::move(path.error()));
  return make(std::move(*path));
}

}  // namespace nuv::support
