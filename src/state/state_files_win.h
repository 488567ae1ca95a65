// The journal's and meta file's file operations on Windows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "state/state_files.h"

namespace nuv {

// The real files. Its read_error gives the system's text for the last read
// that failed; the operations may be copied and used from one thread at a time.
StateFiles windows_state_files();

// The whole file; absent when it cannot be opened or read.
std::optional<std::string> read_whole_file(const std::string& path);

}  // namespace nuv
