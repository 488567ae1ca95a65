// The journal's and meta file's file operations on Windows.
#pragma once

#include <string>

#include "state/state_files.h"

namespace nuv {

// The real files. The operations keep no state of their own between calls.
StateFiles windows_state_files();

// The whole file, or the system's words for why it could not be opened or read.
// It is opened sharing read, write and delete: whoever holds it open, for
// writing too, does not stop the read, and the read keeps no one from
// opening, writing or deleting it.
Result<std::string, FileError> read_whole_file(const std::string& path);

}  // namespace nuv
