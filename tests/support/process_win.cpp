#include "support/process_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <iterator>
#include <vector>

#include "common/sized_buffer_win.h"
#include "common/wide.h"

namespace nuv::test {

std::wstring program_folder() {
  const std::wstring path = ask_sized([](wchar_t* buffer, DWORD size) {
                              return ::GetModuleFileNameW(nullptr, buffer, size);
                            }).value_or(L"");
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring unique_temp_path(const std::wstring& stem) {
  static std::atomic<int> counter{0};
  // Wine hands out the same small process ids run after run, so the id alone
  // would meet the leftovers of an earlier run: the process's start time,
  // in 100 ns units, tells the runs apart.
  static const std::wstring run = [] {
    FILETIME created{}, exited{}, kernel{}, user{};
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const unsigned long long stamp =
        (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(stamp);
  }();
  wchar_t folder[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, folder);
  EXPECT_GT(n, 0u);
  return std::wstring(folder, n) + L"nuv-test-" + run + L"-" + std::to_wstring(counter++) + L"-" +
         stem;
}

namespace {

StartedProcess start(const std::wstring& program, const std::wstring& command_line, bool capture,
                     const std::optional<std::wstring>& environment = std::nullopt,
                     const std::optional<std::wstring>& current_folder = std::nullopt) {
  StartedProcess started;
  UniqueFileHandle stdout_write, stderr_write;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (capture) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    EXPECT_TRUE(::CreatePipe(&read, &write, &inheritable, 0));
    started.stdout_read.reset(read);
    stdout_write.reset(write);
    EXPECT_TRUE(::CreatePipe(&read, &write, &inheritable, 0));
    started.stderr_read.reset(read);
    stderr_write.reset(write);
    ::SetHandleInformation(started.stdout_read.get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(started.stderr_read.get(), HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = stdout_write.get();
    startup.hStdError = stderr_write.get();
  }
  std::vector<wchar_t> line(command_line.begin(), command_line.end());
  line.push_back(L'\0');
  PROCESS_INFORMATION info{};
  std::wstring block = environment.value_or(L"");
  // Wine now and then fails a process creation with ERROR_INTERNAL_ERROR for
  // no fault of the caller; the tests start such a process again.
  BOOL ok = FALSE;
  for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
    ok = ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, capture,
                          environment ? CREATE_UNICODE_ENVIRONMENT : 0,
                          environment ? block.data() : nullptr,
                          current_folder ? current_folder->c_str() : nullptr, &startup, &info);
    if (!ok && ::GetLastError() != ERROR_INTERNAL_ERROR) break;
  }
  EXPECT_TRUE(ok) << "cannot start " << narrow(program) << ": " << ::GetLastError();
  if (ok) {
    ::CloseHandle(info.hThread);
    started.process.reset(info.hProcess);
    started.pid = info.dwProcessId;
  }
  return started;
}

}  // namespace

StartedProcess start_captured(const std::wstring& program, const std::wstring& command_line,
                              const std::optional<std::wstring>& environment,
                              const std::optional<std::wstring>& current_folder) {
  return start(program, command_line, true, environment, current_folder);
}

std::wstring environment_block(const std::map<std::wstring, std::optional<std::wstring>>& changes) {
  std::map<std::wstring, std::wstring> variables;
  wchar_t* current = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = current; *entry; entry += std::wcslen(entry) + 1) {
    const std::wstring text(entry);
    const auto equals = text.find(L'=', 1);  // "=C:=C:\\x" names start with '='
    if (equals == std::wstring::npos) continue;
    variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  ::FreeEnvironmentStringsW(current);
  for (const auto& [name, value] : changes) {
    // Names are case-insensitive: drop any spelling of this one first.
    for (auto it = variables.begin(); it != variables.end();) {
      it = ::_wcsicmp(it->first.c_str(), name.c_str()) == 0 ? variables.erase(it) : std::next(it);
    }
    if (value) variables[name] = *value;
  }
  std::wstring block;
  for (const auto& [name, value] : variables) block += name + L"=" + value + L'\0';
  block += L'\0';
  return block;
}

StartedProcess start_plain(const std::wstring& program, const std::wstring& command_line) {
  return start(program, command_line, false);
}

std::string read_to_end(HANDLE pipe) {
  std::string out;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  return out;
}

std::string read_line(HANDLE pipe) {
  std::string out;
  char c;
  DWORD got = 0;
  while (::ReadFile(pipe, &c, 1, &got, nullptr) && got == 1) {
    out.push_back(c);
    if (c == '\n') break;
  }
  return out;
}

DWORD wait_for_exit(HANDLE process, DWORD timeout_ms) {
  if (::WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "process still running after " << timeout_ms << " ms";
    ::TerminateProcess(process, 255);
    ::WaitForSingleObject(process, INFINITE);
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  return code;
}

void terminate_at(HANDLE process, std::chrono::steady_clock::time_point when, DWORD exit_code) {
  using std::chrono::steady_clock;
  // Sleep through all but the last millisecond, then spin: a wait's timeout
  // only has a resolution of milliseconds.
  const auto sleep =
      std::chrono::duration_cast<std::chrono::milliseconds>(when - steady_clock::now());
  if (sleep.count() > 1 &&
      ::WaitForSingleObject(process, static_cast<DWORD>(sleep.count() - 1)) != WAIT_TIMEOUT) {
    return;
  }
  while (steady_clock::now() < when) {
    if (::WaitForSingleObject(process, 0) != WAIT_TIMEOUT) return;
  }
  ::TerminateProcess(process, exit_code);
}

std::string narrow(const std::wstring& wide) { return from_wide(wide).value_or("<not UTF-16>"); }

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    out.push_back(text.substr(start, end - start));
  }
  return out;
}

bool write_file(const std::wstring& path, const std::string& bytes) {
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD wrote = 0;
  return file.valid() &&
         ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
         wrote == bytes.size();
}

std::optional<std::string> read_file(const std::wstring& path) {
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return std::nullopt;
  return read_to_end(file.get());
}

}  // namespace nuv::test
