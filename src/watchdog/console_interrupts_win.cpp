#include "watchdog/console_interrupts_win.h"

namespace nuv {

BOOL WINAPI ignore_interrupt(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

Result<void, OsError> ignore_console_interrupts() {
  if (!::SetConsoleCtrlHandler(ignore_interrupt, TRUE))
    return unexpected(OsError{::GetLastError()});
  return {};
}

}  // namespace nuv
