// The flag word a child is created with: the caller's flags, with
// CREATE_UNICODE_ENVIRONMENT always added. Portable, so that the word can be
// checked without a child.
#pragma once

#include <cstdint>

namespace nuv {

// The flag word handed to CreateProcessW for the caller's flags.
constexpr std::uint32_t process_creation_flags(std::uint32_t requested) {
  constexpr std::uint32_t kCreateUnicodeEnvironment = 0x00000400;
  return requested | kCreateUnicodeEnvironment;
}

}  // namespace nuv
