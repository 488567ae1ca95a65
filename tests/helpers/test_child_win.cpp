// A stand-in child process for the tests; its first argument is the mode.
//   wait [pid_file]          writes its id to pid_file if given, then sleeps until killed
//   exit <n>                 exits at once with code n
//   write <out> <err> [n]    writes <out> bytes to standard output and <err> bytes to
//                            standard error, interleaved, then exits with code n (0)
//   args <a>...              prints each following argument on a line of its own (UTF-8)
//   stdin                    prints "present" or "none" for its standard input handle
//   stdin-type               prints "none", or what its standard input is: "char" (the
//                            NUL device or a console), "disk", "pipe" or "unknown"
//   grandchild <n> [pid_file]
//                            starts "wait" (with pid_file) as a child of its own that
//                            inherits its output pipes, prints that child's id and exits
//                            with code n
//   fill <byte> <n> <code>   writes n copies of the character <byte> to standard error,
//                            then exits with code <code>
// The bytes of "write" follow pattern_byte(), so that a test can check each one.
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "common/win32.h"
#include "common/unique_handle_win.h"

namespace {

char pattern_byte(unsigned long long i) { return static_cast<char>('a' + i % 26); }

bool write_all(HANDLE to, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD wrote = 0;
    if (!::WriteFile(to, data, static_cast<DWORD>(std::min<std::size_t>(size, 1 << 20)), &wrote,
                     nullptr)) {
      return false;
    }
    data += wrote;
    size -= wrote;
  }
  return true;
}

bool write_text(HANDLE to, const std::string& text) {
  return write_all(to, text.data(), text.size());
}

std::string utf8(const wchar_t* wide) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
  return out;
}

unsigned long long number(const wchar_t* text) { return std::wcstoull(text, nullptr, 10); }

int write_both(unsigned long long out_bytes, unsigned long long err_bytes, int code) {
  // Chunks alternate between the two pipes, so that a reader that drains only
  // one of them leaves this process blocked on the other.
  constexpr unsigned long long kChunk = 16 * 1024;
  std::vector<char> chunk(kChunk);
  unsigned long long out_done = 0, err_done = 0;
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  auto send = [&](HANDLE to, unsigned long long& done, unsigned long long total) {
    const unsigned long long n = std::min(kChunk, total - done);
    for (unsigned long long i = 0; i < n; ++i) chunk[i] = pattern_byte(done + i);
    if (!write_all(to, chunk.data(), n)) return false;
    done += n;
    return true;
  };
  while (out_done < out_bytes || err_done < err_bytes) {
    if (out_done < out_bytes && !send(out, out_done, out_bytes)) return 98;
    if (err_done < err_bytes && !send(err, err_done, err_bytes)) return 98;
  }
  return code;
}

int fill(char byte, unsigned long long count, int code) {
  const std::vector<char> chunk(1 << 20, byte);
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  while (count > 0) {
    const unsigned long long n = std::min<unsigned long long>(count, chunk.size());
    if (!write_all(err, chunk.data(), n)) return 98;
    count -= n;
  }
  return code;
}

int start_grandchild(int code, const wchar_t* pid_file) {
  wchar_t self[MAX_PATH * 4];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  if (n == 0 || n >= MAX_PATH * 4) return 97;
  std::wstring line = L"nuv-test-child wait";
  if (pid_file) line += L" \"" + std::wstring(pid_file) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  // Inherits every inheritable handle, the output pipes among them.
  if (!::CreateProcessW(self, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &info)) {
    return 96;
  }
  const nuv::UniqueHandle thread(info.hThread), process(info.hProcess);
  write_text(::GetStdHandle(STD_OUTPUT_HANDLE), std::to_string(info.dwProcessId) + "\n");
  return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"wait") {
    if (argc > 2) {
      const nuv::UniqueFileHandle file(::CreateFileW(
          argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (file) write_text(file.get(), std::to_string(::GetCurrentProcessId()));
    }
    for (;;) ::Sleep(INFINITE);
  }
  if (mode == L"exit" && argc > 2) return static_cast<int>(number(argv[2]));
  if (mode == L"write" && argc > 3) {
    return write_both(number(argv[2]), number(argv[3]),
                      argc > 4 ? static_cast<int>(number(argv[4])) : 0);
  }
  if (mode == L"args") {
    std::string out;
    for (int i = 2; i < argc; ++i) out += utf8(argv[i]) + "\n";
    return write_text(::GetStdHandle(STD_OUTPUT_HANDLE), out) ? 0 : 98;
  }
  if (mode == L"stdin") {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    const bool present = in != nullptr && in != INVALID_HANDLE_VALUE;
    return write_text(::GetStdHandle(STD_OUTPUT_HANDLE), present ? "present\n" : "none\n") ? 0 : 98;
  }
  if (mode == L"stdin-type") {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    const char* type = "unknown";
    if (in == nullptr || in == INVALID_HANDLE_VALUE) {
      type = "none";
    } else {
      switch (::GetFileType(in)) {
        case FILE_TYPE_CHAR:
          type = "char";
          break;
        case FILE_TYPE_DISK:
          type = "disk";
          break;
        case FILE_TYPE_PIPE:
          type = "pipe";
          break;
        default:
          break;
      }
    }
    return write_text(::GetStdHandle(STD_OUTPUT_HANDLE), std::string(type) + "\n") ? 0 : 98;
  }
  if (mode == L"grandchild" && argc > 2) {
    return start_grandchild(static_cast<int>(number(argv[2])), argc > 3 ? argv[3] : nullptr);
  }
  if (mode == L"fill" && argc > 4 && argv[2][0] != L'\0') {
    return fill(static_cast<char>(argv[2][0]), number(argv[3]), static_cast<int>(number(argv[4])));
  }
  return 99;
}
