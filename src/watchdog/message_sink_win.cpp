#include "watchdog/message_sink_win.h"

#include <string>

#include "common/win32.h"
#include "common/wide.h"

namespace nuv {
namespace {

void write_console(HANDLE console, std::string_view text) {
  const auto wide = to_wide(text);
  if (!wide) return;
  const wchar_t* data = wide->data();
  std::size_t left = wide->size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(left < 0x8000 ? left : 0x8000);
    if (!::WriteConsoleW(console, data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    left -= written;
  }
}

void write_bytes(HANDLE file, std::string_view text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(left < 0x10000 ? left : 0x10000);
    if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    left -= written;
  }
}

}  // namespace

void StandardErrorSink::write_line(std::string_view line) {
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;

  std::string text(line);
  text += '\n';
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    write_console(handle, text);
  } else {
    write_bytes(handle, text);
  }
}

}  // namespace nuv
