#include "common/os_error.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "common/win32.h"
#include "common/wide.h"

namespace nuv {
namespace {

// Codes with this bit are NTSTATUS values carried as Win32 errors; their
// texts live in ntdll's message table.
constexpr DWORD kNtStatusBit = 0x10000000;
constexpr DWORD kMessageBufferUnits = 2048;

std::string system_message(std::uint32_t code) {
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const void* module = nullptr;
  DWORD lookup = code;
  if (code & kNtStatusBit) {
    if (const HMODULE ntdll = ::GetModuleHandleW(L"NTDLL.DLL")) {
      flags |= FORMAT_MESSAGE_FROM_HMODULE;
      module = ntdll;
      lookup = code & ~kNtStatusBit;
    }
  }
  wchar_t buffer[kMessageBufferUnits];
  const DWORD length =
      ::FormatMessageW(flags, module, lookup, 0, buffer, kMessageBufferUnits, nullptr);
  if (length == 0) {
    return "OS Error " + std::to_string(code) + " (FormatMessageW() returned error " +
           std::to_string(::GetLastError()) + ")";
  }
  auto text = from_wide(std::wstring_view(buffer, length));
  if (!text) {
    return "OS Error " + std::to_string(code) + " (FormatMessageW() returned invalid UTF-16)";
  }
  // The system ends its messages with a line break.
  while (!text->empty() &&
         std::string_view(" \t\r\n\v\f").find(text->back()) != std::string_view::npos) {
    text->pop_back();
  }
  return std::move(*text);
}

}  // namespace

std::string os_error_text(std::uint32_t code) {
  return system_message(code) + " (os error " + std::to_string(code) + ")";
}

}  // namespace nuv
