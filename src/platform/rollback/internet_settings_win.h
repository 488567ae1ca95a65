// Telling running programs that the per-user Internet settings changed, so
// that those using WinINet drop the proxy they read earlier.
#pragma once

#include <optional>
#include <string>

namespace nuv {

// Loads wininet.dll from the system folder, by its full path, and calls
// InternetSetOptionW with INTERNET_OPTION_SETTINGS_CHANGED, then
// INTERNET_OPTION_REFRESH; the library is released afterwards. Absent when
// both calls succeeded, else which step failed, with the system's text.
std::optional<std::string> announce_internet_settings_changed();

}  // namespace nuv
