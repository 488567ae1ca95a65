// The state recovery run on the real system: APPDATA, the files, and a
// runtime of its own on which every undo runs through run_command.
#include <chrono>
#include <exception>

#include "common/win32.h"
#include "common/environment_win.h"
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

// The one message of a recovery whose event loop could not start.
std::optional<std::vector<std::string>> threads_failed(const char* what) noexcept {
  try {
    return std::vector<std::string>{std::string("could not start the recovery's threads: ") + what};
  } catch (...) {
    return std::nullopt;  // not even memory for the message
  }
}

std::optional<std::vector<std::string>> roll_back_on_own_runtime(SystemStateStore& store) {
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
