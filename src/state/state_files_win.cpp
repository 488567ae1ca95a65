#include "state/state_files_win.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string_view>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/unique_handle.h"
#include "common/wide.h"

namespace nuv {

namespace {

bool remove_file(const std::string& path) {
  const auto wide = to_wide(path);
  return wide && ::DeleteFileW(wide->c_str());
}

bool write_file(const std::string& path, std::string_view bytes) {
  const auto wide = to_wide(path);
  if (!wide) return false;
  const UniqueFileHandle file(::CreateFileW(wide->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) || written == 0)
      return false;
    bytes.remove_prefix(written);
  }
  // On disk before anyone renames it over the file it replaces.
  return ::FlushFileBuffers(file.get()) != 0;
}

bool replace_file(const std::string& from, const std::string& to) {
  const auto wide_from = to_wide(from);
  const auto wide_to = to_wide(to);
  return wide_from && wide_to &&
         ::MoveFileExW(wide_from->c_str(), wide_to->c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

}  // namespace

StateFiles windows_state_files() {
  struct LastRead {
    std::string error;
    bool found_nothing = false;
  };
  auto last = std::make_shared<LastRead>();
  return StateFiles{
      .read =
          [last](const std::string& path) {
            auto bytes = read_whole_file(path);
            if (!bytes) {
              const DWORD code = ::GetLastError();
              last->error = os_error_text(code);
              last->found_nothing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
            }
            return bytes;
          },
      .remove = remove_file,
      .write = write_file,
      .replace = replace_file,
      .read_error = [last] { return last->error; },
      .read_found_nothing = [last] { return last->found_nothing; },
  };
}

std::optional<std::string> read_whole_file(const std::string& path) {
  const auto wide = to_wide(path);
  if (!wide) return std::nullopt;
  const UniqueFileHandle file(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[64 * 1024];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return std::nullopt;
    if (got == 0) return bytes;
    bytes.append(buffer, got);
  }
}

}  // namespace nuv
