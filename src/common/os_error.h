// The display text of an operating-system error code: the system's message,
// then " (os error <code>)". Every system failure that reaches a message has
// this form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nuv {

// A failure that is the system's error code and nothing more: what calls that
// must not allocate (on a worker thread, while memory runs out) report. Its
// text is had later, through os_error_text.
struct OsError {
  std::uint32_t code = 0;
  bool operator==(const OsError&) const = default;
};

// The system's error code for memory running out (ERROR_NOT_ENOUGH_MEMORY):
// how an allocation failure ends a call that must not throw.
inline constexpr std::uint32_t kOutOfMemoryError = 8;

std::string os_error_text(std::uint32_t code);

// The same for a code whose text lives in a module's own message table (a
// WinINet error in wininet.dll, say), looked up there before the system's.
// `module` is the module's handle.
std::string os_error_text(std::uint32_t code, const void* module);

// The system's text of message `code` (UTF-8, untrimmed) in each language a
// localized tool may answer in: the neutral lookup (language 0), the user's
// default UI language and the system's default UI language, without
// duplicates. A language whose text cannot be had is left out.
std::vector<std::string> system_message_texts(std::uint32_t code);

}  // namespace nuv
