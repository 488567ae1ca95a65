// The lock of a journal on Windows: a named mutex per journal.
#include "state/journal_lock_win.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "common/win32.h"
#include "common/sized_buffer_win.h"
#include "common/unique_handle_win.h"
#include "common/wide.h"
#include "state/journal_lock_name.h"

namespace nuv {
namespace {

// A named mutex rather than a lock file: it leaves nothing in the client's
// folder, and the system hands it on when its holder dies (the next waiter
// sees WAIT_ABANDONED), so a killed watchdog cannot block the journal. It is
// released by the thread that took it, which is the one that runs the whole
// recovery.
class MutexJournalLock final : public JournalLock {
 public:
  MutexJournalLock(UniqueHandle mutex, bool abandoned)
      : mutex_(std::move(mutex)), abandoned_(abandoned) {}
  MutexJournalLock(const MutexJournalLock&) = delete;
  MutexJournalLock& operator=(const MutexJournalLock&) = delete;
  ~MutexJournalLock() override { ::ReleaseMutex(mutex_.get()); }
  [[nodiscard]] bool abandoned() const override { return abandoned_; }

 private:
  UniqueHandle mutex_;
  bool abandoned_;
};

// Upper case as the invariant locale has it, the same for every watchdog
// whatever its user's language.
std::optional<std::wstring> upper_case(const std::wstring& text) {
  if (text.empty()) return text;
  const int size = static_cast<int>(text.size());
  std::wstring upper(text.size(), L'\0');
  const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(), size,
                                upper.data(), size, nullptr, nullptr, 0);
  if (n != size) return std::nullopt;
  return upper;
}

}  // namespace

std::optional<std::u16string> journal_name_key(const std::string& state_path) {
  const auto wide = to_wide(state_path);
  if (!wide) return std::nullopt;
  const auto full = ask_sized([&wide](wchar_t* buffer, DWORD size) {
    return ::GetFullPathNameW(wide->c_str(), size, buffer, nullptr);
  });
  if (!full) return std::nullopt;
  const auto upper = upper_case(*full);
  if (!upper) return std::nullopt;
  return std::u16string(upper->begin(), upper->end());
}

namespace {

std::unique_ptr<JournalLock> lock_waiting(const std::string& state_path, DWORD milliseconds) {
  const auto key = journal_name_key(state_path);
  if (!key) return nullptr;
  const std::u16string name = journal_lock_name(*key);
  UniqueHandle mutex(
      ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name.c_str())));
  if (!mutex) return nullptr;
  const DWORD waited = ::WaitForSingleObject(mutex.get(), milliseconds);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return nullptr;
  // WAIT_ABANDONED hands over the mutex all the same: the holder is gone.
  return std::make_unique<MutexJournalLock>(std::move(mutex), waited == WAIT_ABANDONED);
}

}  // namespace

std::unique_ptr<JournalLock> lock_journal(const std::string& state_path) {
  return lock_waiting(state_path, INFINITE);
}

std::unique_ptr<JournalLock> lock_journal_within(const std::string& state_path,
                                                 std::chrono::milliseconds limit) {
  // Below INFINITE, which would wait for ever.
  const auto capped = std::min<std::chrono::milliseconds::rep>(
      std::max<std::chrono::milliseconds::rep>(limit.count(), 0), INFINITE - 1);
  return lock_waiting(state_path, static_cast<DWORD>(capped));
}

}  // namespace nuv
