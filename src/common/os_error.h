// The display text of an operating-system error code: the system's message,
// then " (os error <code>)". Every system failure that reaches a message has
// this form.
#pragma once

#include <cstdint>
#include <string>

namespace nuv {

std::string os_error_text(std::uint32_t code);

}  // namespace nuv
