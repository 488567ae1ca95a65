// The lock of a journal on Windows: a named mutex per journal.
#include "state/journal_lock_win.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "common/win32.h"
#include "common/sized_buffer_win.h"
#include "common/unique_handle_win.h"
#include "common/wide.h"
#include "state/held_mutex_win.h"
#include "state/journal_lock_name.h"

namespace nuv {
namespace {

// Upper case as the invariant locale has it, the same for every watchdog
// whatever its user's language.
Result<std::wstring, OsError> upper_case(const std::wstring& text) {
  if (text.empty()) return text;
  const int size = static_cast<int>(text.size());
  std::wstring upper(text.size(), L'\0');
  const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(), size,
                                upper.data(), size, nullptr, nullptr, 0);
  // Only 0 is a failure with a code; a mapping that came out shorter is
  // still the upper case, and the last error would be some earlier call's.
  if (n == 0) return unexpected(OsError{::GetLastError()});
  upper.resize(static_cast<std::size_t>(n));
  return upper;
}

}  // namespace

Result<std::u16string, OsError> journal_name_key(const std::string& state_path) {
  const auto wide = to_wide(state_path);
  if (!wide) return unexpected(OsError{ERROR_NO_UNICODE_TRANSLATION});
  const auto full = ask_sized([&wide](wchar_t* buffer, DWORD size) {
    return ::GetFullPathNameW(wide->c_str(), size, buffer, nullptr);
  });
  if (!full) return unexpected(full.error());
  const auto upper = upper_case(*full);
  if (!upper) return unexpected(upper.error());
  return std::u16string(upper->begin(), upper->end());
}

namespace {

// A named mutex rather than a lock file: it leaves nothing in the client's
// folder, and the system hands it on when its holder dies (the next waiter
// sees WAIT_ABANDONED), so a killed watchdog cannot block the journal. It is
// released by the thread that took it, which is the one that runs the whole
// recovery.
Result<JournalLock, OsError> lock_waiting(const std::string& state_path, DWORD milliseconds) {
  const auto key = journal_name_key(state_path);
  if (!key) return unexpected(key.error());
  const std::u16string name = journal_lock_name(*key);
  UniqueHandle mutex(
      ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name.c_str())));
  if (!mutex) return unexpected(OsError{::GetLastError()});
  const DWORD waited = ::WaitForSingleObject(mutex.get(), milliseconds);
  // Only WAIT_FAILED sets the last error; any other answer is its own code.
  const DWORD wait_error = waited == WAIT_FAILED ? ::GetLastError() : waited;
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    return unexpected(OsError{wait_error});
  }
  // WAIT_ABANDONED hands over the mutex all the same: the holder is gone.
  return JournalLock(UniqueHeldMutex(mutex.release()), waited == WAIT_ABANDONED);
}

}  // namespace

Result<JournalLock, OsError> lock_journal(const std::string& state_path) {
  return lock_waiting(state_path, INFINITE);
}

Result<JournalLock, OsError> lock_journal_within(const std::string& state_path,
                                                 std::chrono::milliseconds limit) {
  // Below INFINITE, which would wait for ever.
  const auto capped = std::min<std::chrono::milliseconds::rep>(
      std::max<std::chrono::milliseconds::rep>(limit.count(), 0), INFINITE - 1);
  return lock_waiting(state_path, static_cast<DWORD>(capped));
}

}  // namespace nuv
