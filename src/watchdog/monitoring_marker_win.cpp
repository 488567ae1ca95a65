#include "watchdog/monitoring_marker_win.h"

#include <string>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/wide.h"
#include "state/journal_lock_name.h"
#include "state/journal_lock_win.h"

namespace nuv {
namespace {

Result<std::u16string, OsError> marker_name(const std::string& state_path) {
  const auto key = journal_name_key(state_path);
  if (!key) return unexpected(key.error());
  return monitoring_marker_name(*key);
}

}  // namespace

Result<void, std::string> MonitoringMarker::raise(const std::string& state_path) {
  const auto name = marker_name(state_path);
  if (!name) return unexpected("its name cannot be formed: " + os_error_text(name.error().code));
  // Manual reset and never set: only its existence counts.
  event_.reset(::CreateEventW(nullptr, TRUE, FALSE, wide_chars(*name)));
  if (!event_) return unexpected(os_error_text(::GetLastError()));
  return {};
}

bool watchdog_monitors(const std::string& state_path) {
  const auto name = marker_name(state_path);
  if (!name) return true;
  const UniqueHandle event(::OpenEventW(SYNCHRONIZE, FALSE, wide_chars(*name)));
  return event || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

}  // namespace nuv
