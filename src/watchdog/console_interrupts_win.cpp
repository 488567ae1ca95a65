#include "watchdog/console_interrupts_win.h"

namespace nuv {

BOOL WINAPI ignore_interrupt(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

bool ignore_console_interrupts() { return ::SetConsoleCtrlHandler(ignore_interrupt, TRUE) != 0; }

}  // namespace nuv
