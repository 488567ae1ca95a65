#include "watchdog/monitoring_marker_win.h"

#include "common/win32.h"
#include "common/os_error.h"
#include "state/journal_lock_win.h"
#include "state/journal_lock_name.h"

namespace nuv {
namespace {

std::optional<std::u16string> marker_name(const std::string& state_path) {
  const auto key = journal_name_key(state_path);
  if (!key) return std::nullopt;
  return monitoring_marker_name(*key);
}

const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace

std::optional<std::string> MonitoringMarker::raise(const std::string& state_path) {
  const auto name = marker_name(state_path);
  if (!name) return "its name cannot be formed: " + os_error_text(::GetLastError());
  // Manual reset and never set: only its existence counts.
  event_.reset(::CreateEventW(nullptr, TRUE, FALSE, wide(*name)));
  if (!event_) return os_error_text(::GetLastError());
  return std::nullopt;
}

bool watchdog_monitors(const std::string& state_path) {
  const auto name = marker_name(state_path);
  if (!name) return true;
  const UniqueHandle event(::OpenEventW(SYNCHRONIZE, FALSE, wide(*name)));
  return event || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

}  // namespace nuv
