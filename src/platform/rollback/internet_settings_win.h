// Telling running programs that the per-user Internet settings changed, so
// that those using WinINet drop the proxy they read earlier.
#pragma once

#include <string>

#include "common/result.h"

namespace nuv {

// Loads wininet.dll from the system folder, by its full path, and calls
// InternetSetOptionW with INTERNET_OPTION_SETTINGS_CHANGED, then
// INTERNET_OPTION_REFRESH; the library is released afterwards. Succeeds when
// both calls did, else fails with which step failed and the system's text.
Result<void, std::string> announce_internet_settings_changed();

}  // namespace nuv
