#include "tools/support/process_win.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <vector>

#include "common/sized_buffer_win.h"
#include "tools/support/text.h"

namespace nuv::support {

Win32Result<std::wstring> program_folder() {
  const auto path = ask_sized(
      [](wchar_t* buffer, DWORD size) { return ::GetModuleFileNameW(nullptr, buffer, size); });
  if (!path) return unexpected(Win32Error{"GetModuleFileNameW", path.error().code});
  return path->substr(0, path->find_last_of(L"\\/") + 1);
}

Win32Result<std::wstring> environment_block(
    const std::map<std::wstring, std::optional<std::wstring>>& changes,
    const std::vector<std::wstring>& removed_prefixes) {
  std::map<std::wstring, std::wstring> variables;
  wchar_t* current = ::GetEnvironmentStringsW();
  if (!current) return last_error("GetEnvironmentStringsW");
  for (const wchar_t* entry = current; *entry; entry += std::wcslen(entry) + 1) {
    const std::wstring text(entry);
    const auto equals = text.find(L'=', 1);  // "=C:=C:\\x" names start with '='
    if (equals == std::wstring::npos) continue;
    const bool removed = std::any_of(
        removed_prefixes.begin(), removed_prefixes.end(), [&text](const std::wstring& prefix) {
          return ::_wcsnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
        });
    if (removed) continue;
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

namespace {

// One standard output or error of a child: the handle it gets, and the
// pipe's write end that we hold until it has started.
struct ChildOutput {
  HANDLE handle = nullptr;
  UniqueFileHandle write_end;
};

Win32Result<ChildOutput> child_output(Output output, DWORD ours, UniqueFileHandle& read_end) {
  ChildOutput child;
  switch (output) {
    case Output::kNone:
      break;
    case Output::kOurs:
      child.handle = ::GetStdHandle(ours);
      break;
    case Output::kPipe: {
      SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
      HANDLE read = nullptr, write = nullptr;
      if (!::CreatePipe(&read, &write, &inheritable, 0)) return last_error("CreatePipe");
      read_end.reset(read);
      child.write_end.reset(write);
      // Our end stays ours: a child holding it would keep the pipe open.
      ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
      child.handle = write;
      break;
    }
  }
  return child;
}

}  // namespace

Win32Result<StartedProcess> start_process(const std::wstring& program,
                                          const std::wstring& command_line,
                                          const StartOptions& options) {
  StartedProcess started;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  ChildOutput output, error;
  if (options.handles == Handles::kChosen) {
    auto out = child_output(options.output, STD_OUTPUT_HANDLE, started.stdout_read);
    if (!out) return unexpected(std::move(out.error()));
    auto err = child_output(options.error, STD_ERROR_HANDLE, started.stderr_read);
    if (!err) return unexpected(std::move(err.error()));
    output = std::move(*out);
    error = std::move(*err);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = options.input;
    startup.hStdOutput = output.handle;
    startup.hStdError = error.handle;
  }
  const BOOL inherit = options.handles != Handles::kNone;
  std::vector<wchar_t> line(command_line.begin(), command_line.end());
  line.push_back(L'\0');
  std::wstring block = options.environment.value_or(L"");
  PROCESS_INFORMATION info{};
  BOOL ok = FALSE;
  for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
    ok = ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, inherit,
                          options.environment ? CREATE_UNICODE_ENVIRONMENT : 0,
                          options.environment ? block.data() : nullptr,
                          options.current_folder ? options.current_folder->c_str() : nullptr,
                          &startup, &info);
    if (!ok && ::GetLastError() != ERROR_INTERNAL_ERROR) break;
  }
  if (!ok) return last_error("CreateProcessW " + narrow(program));
  const UniqueHandle thread(info.hThread);  // not needed: closed at once
  started.process.reset(info.hProcess);
  started.pid = info.dwProcessId;
  return started;  // the write ends close here: the child holds its own
}

namespace {

// A read that failed because the writer's last handle has gone is the end of
// the stream, not an error.
bool ended(DWORD error) { return error == ERROR_BROKEN_PIPE; }

}  // namespace

Win32Result<std::string> read_to_end(HANDLE from) {
  std::string out;
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(from, buffer, sizeof buffer, &got, nullptr)) {
      if (ended(::GetLastError())) return out;
      return last_error("ReadFile");
    }
    if (got == 0) return out;
    out.append(buffer, got);
  }
}

Win32Result<std::string> read_line(HANDLE from) {
  std::string out;
  char c;
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(from, &c, 1, &got, nullptr)) {
      if (ended(::GetLastError())) return out;
      return last_error("ReadFile");
    }
    if (got == 0) return out;
    out.push_back(c);
    if (c == '\n') return out;
  }
}

Win32Result<DWORD> wait_for_exit(HANDLE process, DWORD timeout_ms) {
  switch (::WaitForSingleObject(process, timeout_ms)) {
    case WAIT_OBJECT_0:
      break;
    case WAIT_TIMEOUT:
      return unexpected(
          Win32Error{"WaitForSingleObject (" + std::to_string(timeout_ms) + " ms)", WAIT_TIMEOUT});
    default:
      return last_error("WaitForSingleObject");
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return last_error("GetExitCodeProcess");
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

}  // namespace nuv::support
