#include "watchdog/log_file_win.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/win32.h"
#include "common/log_line.h"
#include "common/path.h"
#include "common/wide.h"
#include "watchdog/log_files.h"

namespace nuv {
namespace {

UtcTime utc_now() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

std::string stamped(std::string_view text) {
  return format_log_line(utc_now(), static_cast<std::uint32_t>(::GetCurrentProcessId()), text);
}

// Cheap beside a failed open, and asked at every line while the client has
// not yet made its folder.
bool is_folder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Sets a log of the rotation size or more aside as the old log. The file that
// is measured is the file that is renamed, through one handle: two watchdogs
// that start together may both measure the full log, and the second must then
// move that same file again (where it already is), never the first's fresh
// log over it. Any failure leaves the log where it is, to be appended to.
void set_aside_if_full(const std::wstring& path, const std::wstring& old_path) {
  const UniqueFileHandle log(::CreateFileW(
      path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!log) return;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(log.get(), &size) ||
      static_cast<std::uint64_t>(size.QuadPart) < kLogRotationSize) {
    return;
  }
  // The new name follows the structure, in storage of its own.
  const std::size_t name_bytes = old_path.size() * sizeof(wchar_t);
  std::vector<std::byte> storage(offsetof(FILE_RENAME_INFO, FileName) + name_bytes +
                                 sizeof(wchar_t));
  FILE_RENAME_INFO info{};
  info.ReplaceIfExists = TRUE;
  info.RootDirectory = nullptr;
  info.FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(storage.data(), &info, offsetof(FILE_RENAME_INFO, FileName));
  std::memcpy(storage.data() + offsetof(FILE_RENAME_INFO, FileName), old_path.c_str(),
              name_bytes + sizeof(wchar_t));
  ::SetFileInformationByHandle(log.get(), FileRenameInfo, storage.data(),
                               static_cast<DWORD>(storage.size()));
}

}  // namespace

LogFile::LogFile(const std::optional<std::string>& folder, std::size_t write_chunk)
    : has_folder_(folder.has_value()), write_chunk_(write_chunk) {
  if (!folder) return;
  auto wide_folder = to_wide(*folder);
  auto log = to_wide(join_path(*folder, kLogFileName));
  auto old_log = to_wide(join_path(*folder, kOldLogFileName));
  if (wide_folder && log && old_log) {
    paths_ = Paths{std::move(*wide_folder), std::move(*log), std::move(*old_log)};
  }
}

bool LogFile::open_locked() {
  if (!paths_ || !is_folder(paths_->folder)) return false;
  set_aside_if_full(paths_->log, paths_->old_log);
  // FILE_APPEND_DATA alone: every write lands at the end of the file, even
  // when another watchdog appends at the same moment.
  file_.reset(::CreateFileW(paths_->log.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return false;
  append_locked(held_);
  if (dropped_ > 0) {
    append_locked(stamped(std::to_string(dropped_) +
                          " earlier lines of this run are not logged: they came before the log "
                          "could be opened and passed " +
                          std::to_string(kHeldLogBytes) + " bytes"));
  }
  std::string().swap(held_);
  dropped_ = 0;
  return true;
}

void LogFile::append_locked(std::string_view bytes) const {
  const std::size_t chunk_limit = std::clamp<std::size_t>(write_chunk_, 1, kLogWriteChunk);
  while (!bytes.empty()) {
    const auto chunk = static_cast<DWORD>(std::min(bytes.size(), chunk_limit));
    DWORD written = 0;
    if (!::WriteFile(file_.get(), bytes.data(), chunk, &written, nullptr) || written == 0) return;
    bytes.remove_prefix(std::min<std::size_t>(written, bytes.size()));
  }
}

void LogFile::write(std::string_view text) {
  if (!has_folder_) return;
  const std::string line = stamped(text);
  const std::lock_guard lock(mutex_);
  if (file_ || open_locked()) {
    append_locked(line);
  } else if (dropped_ == 0 && held_.size() + line.size() <= kHeldLogBytes) {
    held_ += line;
  } else {
    // Once one line did not fit, no later one is held, however short: the
    // log must never show a line without the ones written before it.
    ++dropped_;
  }
}

}  // namespace nuv
