// A scratch file that the system deletes once its handle is closed: what the
// tests set as the watchdog's standard input when it must be a real file.
#pragma once

#include <string>

#include "common/unique_handle_win.h"
#include "support/checked_win.h"

namespace nuv::test {

// Invalid when the file cannot be made.
inline UniqueFileHandle self_deleting_temp_file(const std::wstring& stem) {
  const std::wstring path = unique_temp_path(stem);
  return UniqueFileHandle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

}  // namespace nuv::test
