// Closes every Wintun adapter that still carries one of the client's names.
#pragma once

#include <cstdint>
#include <string>

#include "common/win32.h"
#include "common/log.h"
#include "common/os_error.h"
#include "common/result.h"

namespace nuv {

// TEMP if set, else TMP if set, else the system's temporary folder, or the
// system's code for why it has none.
Result<std::string, OsError> cleanup_temp_folder();

// Under the lock file in the temporary folder, opens and closes each of the
// 66 candidate adapters; returns how many opened and resolved to an
// interface (one that opens but resolves to none is closed all the same, and
// not counted). Prints nothing and never fails: no lock, no library or any
// other failure gives 0. The log gets each adapter closed, by name, and
// whether it counted, or why the cleanup was skipped.
std::uint64_t clean_wintun_orphans(Log& log);

// The same, asking `kernel32` whether the system has safe DLL search. Without
// AddDllDirectory (Windows 7 without update KB2533623), LoadLibraryExW refuses
// the LOAD_LIBRARY_SEARCH_* flags that keep wintun.dll out of the current
// folder and PATH: the cleanup then skips and says why, rather than finding
// nothing. Tests pass a module that lacks the function.
std::uint64_t clean_wintun_orphans(Log& log, HMODULE kernel32);

}  // namespace nuv
