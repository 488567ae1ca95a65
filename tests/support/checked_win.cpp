#include "support/checked_win.h"

namespace nuv::test {
namespace {

// The value, or `fallback` with the failure added to the running test.
template <class T>
T value_or_failure(support::Win32Result<T> result, T fallback = {}) {
  if (result) return std::move(*result);
  ADD_FAILURE() << result.error().text();
  return fallback;
}

StartedProcess start(const std::wstring& program, const std::wstring& command_line,
                     const support::StartOptions& options) {
  auto started = support::start_process(program, command_line, options);
  if (!started) {
    ADD_FAILURE() << "cannot start " << narrow(program) << ": " << started.error().text();
    return {};
  }
  return std::move(*started);
}

// Success, or a failure that names the call and the system's error.
testing::AssertionResult checked(const support::Win32Result<void>& done) {
  if (!done) return testing::AssertionFailure() << done.error().text();
  return testing::AssertionSuccess();
}

}  // namespace

std::wstring program_folder() { return value_or_failure(support::program_folder()); }

std::wstring unique_temp_path(const std::wstring& stem) {
  return value_or_failure(support::unique_temp_path(stem), stem);
}

std::wstring environment_block(const std::map<std::wstring, std::optional<std::wstring>>& changes) {
  return value_or_failure(support::environment_block(changes),
                          std::wstring(2, L'\0'));  // an empty block
}

StartedProcess start_captured(const std::wstring& program, const std::wstring& command_line,
                              const std::optional<std::wstring>& environment,
                              const std::optional<std::wstring>& current_folder, HANDLE input) {
  support::StartOptions options = support::captured(environment, current_folder);
  options.input = input;
  return start(program, command_line, options);
}

StartedProcess start_plain(const std::wstring& program, const std::wstring& command_line) {
  return start(program, command_line, {});
}

std::string read_to_end(HANDLE from) { return value_or_failure(support::read_to_end(from)); }

std::string read_line(HANDLE from) { return value_or_failure(support::read_line(from)); }

DWORD wait_for_exit(HANDLE process, DWORD timeout_ms) {
  auto code = support::wait_for_exit(process, timeout_ms);
  if (code) return *code;
  ADD_FAILURE() << "the process has not ended: " << code.error().text();
  ::TerminateProcess(process, 255);
  ::WaitForSingleObject(process, INFINITE);
  DWORD ended = 0;
  ::GetExitCodeProcess(process, &ended);
  return ended;
}

testing::AssertionResult make_folders(const std::wstring& path) {
  return checked(support::make_folders(path));
}

testing::AssertionResult copy_file(const std::wstring& from, const std::wstring& to) {
  return checked(support::copy_file(from, to));
}

testing::AssertionResult write_file(const std::wstring& path, const std::string& bytes) {
  return checked(support::write_file(path, bytes));
}

std::optional<std::string> read_file(const std::wstring& path) {
  auto text = support::read_file(path);
  if (!text) return std::nullopt;
  return std::move(*text);
}

}  // namespace nuv::test
