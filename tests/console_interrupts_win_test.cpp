// The monitoring form's console handler. Wine cannot send Ctrl+Break to a
// process (only Ctrl+C, which the watchdog's own tests press), so every event
// is put to the handler here.
#include <gtest/gtest.h>

#include "watchdog/console_interrupts_win.h"

namespace nuv {
namespace {

TEST(ConsoleInterrupts, OnlyCtrlCAndCtrlBreakAreIgnored) {
  EXPECT_EQ(ignore_interrupt(CTRL_C_EVENT), TRUE);
  EXPECT_EQ(ignore_interrupt(CTRL_BREAK_EVENT), TRUE);
  // Closing the console, logging off and shutting down still end the
  // watchdog.
  for (const DWORD event : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
    EXPECT_EQ(ignore_interrupt(event), FALSE) << event;
  }
}

}  // namespace
}  // namespace nuv
