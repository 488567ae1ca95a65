#include "platform/process/child_standard_input_win.h"

#include <string>

#include "common/win32.h"
#include "common/os_error.h"

namespace nuv {

StandardInputAtStart examine_standard_input() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) {
    return {StandardInputAtStart::State::kMissing, 0};
  }
  // FILE_TYPE_UNKNOWN is also the answer for a handle of no known type;
  // only an error beside it says that the value names no handle.
  ::SetLastError(NO_ERROR);
  if (::GetFileType(input) == FILE_TYPE_UNKNOWN) {
    const DWORD error = ::GetLastError();
    if (error != NO_ERROR) return {StandardInputAtStart::State::kUnusable, error};
  }
  return {StandardInputAtStart::State::kUsable, 0};
}

UniqueHandle ChildStandardInput::for_child() {
  switch (at_start_.state) {
    case StandardInputAtStart::State::kMissing:
      return UniqueHandle();
    case StandardInputAtStart::State::kUnusable:
      return null_device_for_child(at_start_.error);
    case StandardInputAtStart::State::kUsable:
      break;
  }
  // Asked afresh each time, as a console program's standard input may be
  // replaced while it runs.
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return UniqueHandle();
  HANDLE duplicate = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), input, ::GetCurrentProcess(), &duplicate, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return null_device_for_child(::GetLastError());
  }
  return UniqueHandle(duplicate);
}

UniqueHandle ChildStandardInput::null_device_for_child(std::uint32_t why) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE opened = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inheritable, OPEN_EXISTING, 0, nullptr);
  const DWORD null_error = opened == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
  UniqueHandle null_device(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
  if (!substitute_logged_.exchange(true)) {
    std::string line = "standard input cannot be passed to the tools: " + os_error_text(why);
    line += null_device ? "; they read from the NUL device instead"
                        : "; they get none, as the NUL device cannot be opened: " +
                              os_error_text(null_error);
    log_.write(line);
  }
  return null_device;
}

}  // namespace nuv
