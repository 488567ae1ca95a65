// The state recovery run on the real system: APPDATA, the files, the lock of
// the journal, and a runtime of its own on which every undo runs through
// run_command.
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/win32.h"
#include "common/environment_win.h"
#include "common/os_error.h"
#include "common/sized_buffer_win.h"
#include "common/unique_handle.h"
#include "common/wide.h"
#include "platform/process/command_runner.h"
#include "platform/rollback/rollback_engine.h"
#include "platform/runtime/event_loop.h"
#include "state/state_files_win.h"
#include "state/state_recovery.h"

namespace nuv {
namespace {

std::int64_t seconds_since_1970() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The one message of a recovery whose event loop could not start; no file
// is touched, so the journal stays for a later run.
std::optional<RollbackOutcome> threads_failed(const char* what) noexcept {
  try {
    return RollbackOutcome{{std::string("could not start the recovery's threads: ") + what}, {}};
  } catch (...) {
    return std::nullopt;  // not even memory for the message
  }
}

std::optional<RollbackOutcome> roll_back_on_own_runtime(SystemStateStore& store, Log& log) {
  std::optional<EventLoop> loop;
  try {
    loop.emplace();
  } catch (const std::exception& failure) {
    // Nothing undone and no file touched; the journal stays for a later run.
    return threads_failed(failure.what());
  }
  const CommandRunner run = [&loop](const CommandRequest& request) {
    return run_command_blocking(*loop, request);
  };
  WindowsStateFiles files;
  auto outcome = rollback_changes_with_outcome(store, run, files, seconds_since_1970, log);
  loop->shutdown();
  return outcome;
}

// A named mutex rather than a lock file: it leaves nothing in the client's
// folder, and the system hands it on when its holder dies (the next waiter
// sees WAIT_ABANDONED), so a killed watchdog cannot block the journal. It is
// released by the thread that took it, which is the one that runs the whole
// recovery.
class MutexJournalLock final : public JournalLock {
 public:
  explicit MutexJournalLock(UniqueHandle mutex) : mutex_(std::move(mutex)) {}
  MutexJournalLock(const MutexJournalLock&) = delete;
  MutexJournalLock& operator=(const MutexJournalLock&) = delete;
  ~MutexJournalLock() override { ::ReleaseMutex(mutex_.get()); }

 private:
  UniqueHandle mutex_;
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

// Null when the lock cannot be had. The recovery then goes on without it,
// as it did before there was one: an undone network is worse than the rare
// double run that the lock prevents.
std::unique_ptr<JournalLock> lock_journal(const std::string& state_path) {
  const auto wide = to_wide(state_path);
  if (!wide) return nullptr;
  const auto full = ask_sized([&wide](wchar_t* buffer, DWORD size) {
    return ::GetFullPathNameW(wide->c_str(), size, buffer, nullptr);
  });
  if (!full) return nullptr;
  const auto upper = upper_case(*full);
  if (!upper) return nullptr;
  const std::u16string name = journal_lock_name(std::u16string(upper->begin(), upper->end()));
  UniqueHandle mutex(
      ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name.c_str())));
  if (!mutex) return nullptr;
  const DWORD waited = ::WaitForSingleObject(mutex.get(), INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return nullptr;
  return std::make_unique<MutexJournalLock>(std::move(mutex));
}

StateRecoverySystem real_system(WindowsStateFiles& files, Log& log) {
  auto read_error = std::make_shared<std::string>();
  return StateRecoverySystem{
      .appdata = [] { return environment_variable(L"APPDATA"); },
      .read_file =
          [read_error](const std::string& path) {
            auto bytes = read_whole_file(path);
            if (!bytes) *read_error = os_error_text(::GetLastError());
            return bytes;
          },
      .remove_file = [&files](const std::string& path) { files.remove(path); },
      .roll_back = [&log](SystemStateStore& store) { return roll_back_on_own_runtime(store, log); },
      .lock_journal = lock_journal,
      .read_error = [read_error] { return *read_error; },
      .log = [&log](std::string_view line) { log.write(line); },
  };
}

}  // namespace

std::optional<RollbackOutcome> recover_system_state_with_outcome(Log& log) {
  WindowsStateFiles files;
  return recover_system_state_with_outcome(real_system(files, log));
}

std::optional<std::vector<std::string>> recover_system_state(Log& log) {
  WindowsStateFiles files;
  return recover_system_state(real_system(files, log));
}

}  // namespace nuv
