// The state recovery run on the real system: APPDATA, the files, and a
// runtime of its own on which every undo runs through run_command.
#include <chrono>
#include <exception>

#include "common/wide.h"
#include "common/win32.h"
#include "platform/process/command_runner.h"
#include "platform/rollback/rollback_engine.h"
#include "platform/runtime/event_loop.h"
#include "state/state_files_win.h"
#include "state/state_recovery.h"

namespace nuv {
namespace {

std::optional<std::string> environment_variable(const wchar_t* name) {
  std::wstring value(256, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();  // set, and empty
    }
    if (n < value.size()) {
      value.resize(n);
      return from_wide(value);  // a value that is not UTF-16 counts as unset
    }
    value.resize(n);
  }
}

std::int64_t seconds_since_1970() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::optional<std::vector<std::string>> roll_back_on_own_runtime(SystemStateStore& store) {
  std::optional<EventLoop> loop;
  try {
    loop.emplace();
  } catch (const std::exception&) {
    return std::nullopt;  // no runtime: nothing undone, no file touched
  }
  const CommandRunner run = [&loop](const CommandRequest& request) {
    return loop->run_blocking(run_command(*loop, request));
  };
  WindowsStateFiles files;
  auto errors = rollback_changes(store, run, files, seconds_since_1970);
  loop->shutdown();
  return errors;
}

}  // namespace

std::optional<std::vector<std::string>> recover_system_state() {
  WindowsStateFiles files;
  return recover_system_state(StateRecoverySystem{
      .appdata = [] { return environment_variable(L"APPDATA"); },
      .read_file = read_whole_file,
      .remove_file = [&files](const std::string& path) { files.remove(path); },
      .roll_back = roll_back_on_own_runtime,
  });
}

}  // namespace nuv
