// Ctrl+C and Ctrl+Break in a console that the watchdog shares with others.
#pragma once

#include "common/win32.h"
#include "common/os_error.h"
#include "common/result.h"

namespace nuv {

// The handler of the monitoring form: TRUE (handled, so the process lives
// on) for CTRL_C_EVENT and CTRL_BREAK_EVENT; FALSE for every other event, so
// that closing the console, logging off or shutting down still ends the
// watchdog as it ends any console program.
BOOL WINAPI ignore_interrupt(DWORD event);

// Installs ignore_interrupt for this process. Not SetConsoleCtrlHandler(
// nullptr, TRUE): that covers Ctrl+C alone, and the tools would inherit it.
// A handler is the process's own. Fails with the system's code when the
// system refused it.
Result<void, OsError> ignore_console_interrupts();

}  // namespace nuv
