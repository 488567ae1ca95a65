#include "support/process_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "common/wide.h"

namespace nuv::test {

std::wstring program_folder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring unique_temp_path(const std::wstring& stem) {
  static std::atomic<int> counter{0};
  wchar_t folder[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, folder);
  EXPECT_GT(n, 0u);
  return std::wstring(folder, n) + L"nuv-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter++) + L"-" + stem;
}

namespace {

StartedProcess start(const std::wstring& program, const std::wstring& command_line,
                     bool capture) {
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
  const BOOL ok = ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, capture, 0,
                                   nullptr, nullptr, &startup, &info);
  EXPECT_TRUE(ok) << "cannot start " << narrow(program) << ": " << ::GetLastError();
  if (ok) {
    ::CloseHandle(info.hThread);
    started.process.reset(info.hProcess);
    started.pid = info.dwProcessId;
  }
  return started;
}

}  // namespace

StartedProcess start_captured(const std::wstring& program, const std::wstring& command_line) {
  return start(program, command_line, true);
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

std::string narrow(const std::wstring& wide) { return from_wide(wide).value_or("<not UTF-16>"); }

}  // namespace nuv::test
