// An interface's GUID as text, the way the registry names its per-interface
// keys: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/win32.h"

namespace nuv {

std::string interface_guid_text(const GUID& guid);

// The reverse, strict: braces, the four dashes and 32 hex digits of either
// case; absent for anything else.
std::optional<GUID> parse_interface_guid(std::string_view text);

}  // namespace nuv
