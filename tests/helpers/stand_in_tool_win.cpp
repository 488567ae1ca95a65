// A stand-in for the system tools (netsh, route, powershell, ...), copied under
// their names beside the program under test. It logs its name and arguments
// and answers as the test's script says.
//
//   NUV_STAND_IN_LOG     a file to which one line is appended per run: the
//                        tool's name, then each argument, all separated by tabs
//   NUV_STAND_IN_SCRIPT  a file of answers, one per line:
//                        name <tab> needle <tab> exit code <tab> standard error
//                        [<tab> standard output]
//                        The first line whose name matches and whose needle is
//                        "*" or found in the tab-joined arguments answers;
//                        "\n", "\r" and "\t" in the standard error text stand
//                        for their characters, and "\M<code>;" for the
//                        system's text of message <code> (FormatMessageW,
//                        line end included) in the code page a console tool
//                        writes in: the console's, else the OEM one. The
//                        same holds for the standard output text.
//                        Without a match: exit code 0.
//   NUV_STAND_IN_SLEEP_MS   milliseconds to sleep after logging, before
//                        anything else: a slow tool, to let runs overlap
//   NUV_STAND_IN_COPY_FROM  with NUV_STAND_IN_COPY_TO: a file copied over
//   NUV_STAND_IN_COPY_TO    another each time the tool runs, after the sleep
//                        and before it answers, as a client relaunched during
//                        a recovery would rewrite its journal
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "common/win32.h"
#include "common/unique_handle_win.h"

namespace {

std::string utf8(const std::wstring& wide) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

std::wstring environment(const wchar_t* name) {
  wchar_t buffer[32768];
  const DWORD n = ::GetEnvironmentVariableW(name, buffer, 32768);
  return n > 0 && n < 32768 ? std::wstring(buffer, n) : std::wstring();
}

std::string read_file(const std::wstring& path) {
  const nuv::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  return text;
}

void append_line(const std::wstring& path, const std::string& line) {
  const nuv::UniqueFileHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_ALWAYS, 0, nullptr));
  if (!file) return;
  DWORD wrote = 0;
  ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &wrote, nullptr);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (const char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// As a localized netsh or route would write it: the system's own words, in
// the console's code page.
std::string system_message_in_console_code_page(DWORD code) {
  wchar_t buffer[2048];
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, buffer, 2048, nullptr);
  UINT code_page = ::GetConsoleOutputCP();
  if (code_page == 0) code_page = ::GetOEMCP();
  const int n = ::WideCharToMultiByte(code_page, 0, buffer, static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(n, '\0');
  ::WideCharToMultiByte(code_page, 0, buffer, static_cast<int>(length), out.data(), n, nullptr,
                        nullptr);
  return out;
}

std::string unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'M') {
      const std::size_t end = text.find(';', i);
      if (end != std::string::npos) {
        const DWORD code = std::strtoul(text.substr(i + 2, end - i - 2).c_str(), nullptr, 10);
        out += system_message_in_console_code_page(code);
        i = end;
        continue;
      }
    }
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring name(self, length);
  name = name.substr(name.find_last_of(L"\\/") + 1);
  if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".exe") == 0)
    name.resize(name.size() - 4);
  const std::string tool = utf8(name);

  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += '\t';
    arguments += utf8(argv[i]);
  }

  const std::wstring log = environment(L"NUV_STAND_IN_LOG");
  if (!log.empty()) {
    std::string line = tool;
    if (argc > 1) line += '\t';
    line += arguments;
    line += '\n';
    append_line(log, line);
  }

  const std::wstring sleep = environment(L"NUV_STAND_IN_SLEEP_MS");
  if (!sleep.empty()) ::Sleep(static_cast<DWORD>(std::wcstoul(sleep.c_str(), nullptr, 10)));

  const std::wstring copy_from = environment(L"NUV_STAND_IN_COPY_FROM");
  const std::wstring copy_to = environment(L"NUV_STAND_IN_COPY_TO");
  if (!copy_from.empty() && !copy_to.empty())
    ::CopyFileW(copy_from.c_str(), copy_to.c_str(), FALSE);

  const std::wstring script = environment(L"NUV_STAND_IN_SCRIPT");
  if (script.empty()) return 0;
  for (std::string line : split(read_file(script), '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto fields = split(line, '\t');
    if (fields.size() < 3 || fields[0] != tool) continue;
    if (fields[1] != "*" && arguments.find(fields[1]) == std::string::npos) continue;
    const auto answer = [&fields](std::size_t field, DWORD stream) {
      if (fields.size() <= field) return;
      const std::string text = unescape(fields[field]);
      DWORD wrote = 0;
      ::WriteFile(::GetStdHandle(stream), text.data(), static_cast<DWORD>(text.size()), &wrote,
                  nullptr);
    };
    answer(3, STD_ERROR_HANDLE);
    answer(4, STD_OUTPUT_HANDLE);
    return static_cast<int>(
        std::wcstoul(std::wstring(fields[2].begin(), fields[2].end()).c_str(), nullptr, 10));
  }
  return 0;
}
