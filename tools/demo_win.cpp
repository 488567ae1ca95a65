// Shows the watchdog's main job: a stand-in client starts nuv-watchdog, then
// either shuts down in order (clean flag written) or dies without the flag.
// The watchdog inherits this program's standard error, so its own lines
// appear as they are written, between this program's own narration.
#include <cstdio>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "common/wide.h"

namespace {

std::wstring program_folder() {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

std::wstring self_path() { return program_folder() + L"nuv-demo.exe"; }

void say(const std::string& text) {
  std::fprintf(stderr, "demo: %s\n", text.c_str());
  std::fflush(stderr);
}

std::string narrow(const std::wstring& text) { return nuv::from_wide(text).value_or("?"); }

struct Process {
  nuv::UniqueHandle handle;
  DWORD pid = 0;
};

Process start(const std::wstring& program, const std::wstring& command_line) {
  std::vector<wchar_t> line(command_line.begin(), command_line.end());
  line.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &info)) {
    say("cannot start " + narrow(program) + " (error " + std::to_string(::GetLastError()) + ")");
    std::exit(3);
  }
  ::CloseHandle(info.hThread);
  return {nuv::UniqueHandle(info.hProcess), info.dwProcessId};
}

DWORD wait_exit(const Process& process) {
  ::WaitForSingleObject(process.handle.get(), INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.handle.get(), &code);
  return code;
}

std::wstring temp_path(const std::wstring& name) {
  wchar_t folder[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, folder);
  return std::wstring(folder, n) + name;
}

void scenario(bool orderly) {
  const std::wstring flag = temp_path(L"nuv-demo-clean.flag");
  ::DeleteFileW(flag.c_str());

  const Process client = start(self_path(), L"nuv-demo --stand-in-client");
  say("stand-in client started, pid " + std::to_string(client.pid));
  const std::wstring watchdog = program_folder() + L"nuv-watchdog.exe";
  const std::wstring arguments = std::to_wstring(client.pid) + L" \"" + flag + L"\"";
  say("client starts: nuv-watchdog " + narrow(arguments));
  const Process dog = start(watchdog, L"nuv-watchdog " + arguments);
  ::Sleep(1000);

  if (orderly) {
    say("client writes the clean flag and exits");
    nuv::UniqueFileHandle file(::CreateFileW(flag.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    file.reset();
    ::TerminateProcess(client.handle.get(), 0);
  } else {
    say("client crashes: killed without writing the clean flag");
    ::TerminateProcess(client.handle.get(), 0xC0000005);
  }
  const DWORD code = wait_exit(dog);
  say("watchdog exit code " + std::to_string(code) + "; clean flag " +
      (::GetFileAttributesW(flag.c_str()) == INVALID_FILE_ATTRIBUTES ? "absent" : "present"));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"--stand-in-client") {
    ::Sleep(INFINITE);
    return 0;
  }
  say("1. orderly shutdown");
  scenario(true);
  say("");
  say("2. crash");
  scenario(false);
  return 0;
}
