#include "watchdog/log_file_win.h"

#include <cstdint>
#include <string_view>

#include "common/win32.h"
#include "common/log_line.h"
#include "common/path.h"
#include "common/wide.h"

namespace nuv {
namespace {

UtcTime utc_now() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

bool is_folder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void LogFile::open_locked() {
  opened_ = true;
  if (!folder_) return;
  const auto folder = to_wide(*folder_);
  const auto path = to_wide(join_path(*folder_, kLogFileName));
  const auto old_path = to_wide(join_path(*folder_, kOldLogFileName));
  if (!folder || !path || !old_path || !is_folder(*folder)) return;

  WIN32_FILE_ATTRIBUTE_DATA data;
  if (::GetFileAttributesExW(path->c_str(), GetFileExInfoStandard, &data)) {
    const std::uint64_t size =
        (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size >= kLogRotationSize) {
      ::MoveFileExW(path->c_str(), old_path->c_str(), MOVEFILE_REPLACE_EXISTING);
    }
  }
  // FILE_APPEND_DATA alone: every write lands at the end of the file, even
  // when another watchdog appends at the same moment.
  file_.reset(::CreateFileW(path->c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void LogFile::write(std::string_view text) {
  const std::string line =
      format_log_line(utc_now(), static_cast<std::uint32_t>(::GetCurrentProcessId()), text);
  const std::lock_guard lock(mutex_);
  if (!opened_) open_locked();
  if (!file_) return;
  DWORD written = 0;
  ::WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace nuv
