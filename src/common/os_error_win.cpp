#include "common/os_error.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/win32.h"
#include "common/wide.h"

namespace nuv {
namespace {

// Codes with this bit are NTSTATUS values carried as Win32 errors; their
// texts live in ntdll's message table.
constexpr DWORD kNtStatusBit = 0x10000000;
constexpr DWORD kMessageBufferUnits = 2048;

// The system's own text of `code` in `language` (0: the system's choice),
// without the inserts; absent when it has none or it is not UTF-16.
std::optional<std::string> raw_system_message(DWORD code, WORD language) {
  wchar_t buffer[kMessageBufferUnits];
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       language, buffer, kMessageBufferUnits, nullptr);
  if (length == 0) return std::nullopt;
  return from_wide(std::wstring_view(buffer, length));
}

std::string system_message(std::uint32_t code, const void* module = nullptr) {
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD lookup = code;
  if (module != nullptr) {
    flags |= FORMAT_MESSAGE_FROM_HMODULE;
  } else if (code & kNtStatusBit) {
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
    // Read before the text is built: the operands of one expression come in
    // no fixed order, and an allocation may come first.
    const DWORD format_error = ::GetLastError();
    return "OS Error " + std::to_string(code) + " (FormatMessageW() returned error " +
           std::to_string(format_error) + ")";
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

std::string os_error_text(std::uint32_t code) { return os_error_text(code, nullptr); }

std::string os_error_text(std::uint32_t code, const void* module) {
  return system_message(code, module) + " (os error " + std::to_string(code) + ")";
}

std::vector<std::string> system_message_texts(std::uint32_t code) {
  std::vector<std::string> texts;
  for (const WORD language : {static_cast<WORD>(0), static_cast<WORD>(::GetUserDefaultUILanguage()),
                              static_cast<WORD>(::GetSystemDefaultUILanguage())}) {
    auto text = raw_system_message(code, language);
    if (!text || std::find(texts.begin(), texts.end(), *text) != texts.end()) continue;
    texts.push_back(std::move(*text));
  }
  return texts;
}

}  // namespace nuv
