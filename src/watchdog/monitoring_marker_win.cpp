#include "watchdog/monitoring_marker_win.h"

#include <string>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/wide.h"
#include "state/journal_lock_name.h"
#include "state/journal_lock_win.h"

namespace nuv {
namespace {

std::u16string marker_name(MarkerKind kind, const std::u16string& key) {
  return kind == MarkerKind::kMonitoring ? monitoring_marker_name(key) : pending_marker_name(key);
}

std::string unnamed_text(const OsError& error) {
  return "its name cannot be formed: " + os_error_text(error.code);
}

}  // namespace

const char* marker_text(MarkerKind kind) {
  return kind == MarkerKind::kMonitoring ? "monitoring marker" : "pending marker";
}

Result<void, std::string> JournalMarker::raise(const std::string& state_path) {
  const auto key = journal_name_key(state_path);
  if (!key) return unexpected(unnamed_text(key.error()));
  // Manual reset and never set: only its existence counts.
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, wide_chars(marker_name(kind_, *key)));
  const DWORD error = ::GetLastError();  // before the owner's reset can close an old handle
  event_.reset(event);
  if (!event_) return unexpected(os_error_text(error));
  return {};
}

Result<bool, std::string> find_marker(MarkerKind kind, const Result<std::u16string, OsError>& key) {
  if (!key) return unexpected(unnamed_text(key.error()));
  HANDLE event = ::OpenEventW(SYNCHRONIZE, FALSE, wide_chars(marker_name(kind, *key)));
  const DWORD error = ::GetLastError();
  const UniqueHandle owned(event);
  if (owned || error == ERROR_ACCESS_DENIED) return true;
  if (error == ERROR_FILE_NOT_FOUND) return false;
  return unexpected(os_error_text(error));
}

Result<bool, std::string> find_marker(MarkerKind kind, const std::string& state_path) {
  return find_marker(kind, journal_name_key(state_path));
}

}  // namespace nuv
