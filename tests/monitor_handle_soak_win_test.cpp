// A day of polls against a live parent must not leak a single handle.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "support/checked_win.h"
#include "support/recording.h"
#include "watchdog/exit_codes.h"
#include "watchdog/monitor_system_win.h"

namespace nuv {
namespace {

using test::NullSink;

// Both ways of watching: the parent's handle held for the whole run, and
// the fallback that opens it by id at every poll. Time is faked, and each
// wait on the held handle is a real wait of 0 ms.
TEST(MonitorHandleSoak, DayOfPollsOnALiveParentKeepsTheHandleCount) {
  auto parent =
      test::start_plain(test::program_folder() + L"nuv-test-child.exe", L"nuv-test-child wait");
  ASSERT_TRUE(parent.process.valid());
  ASSERT_TRUE(parent_process_running(parent.pid));  // warms up whatever the first call sets up

  for (const bool held : {true, false}) {
    DWORD before = 0, after = 0;
    ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &before));
    long polls = 0;
    int code = -1;
    {
      std::chrono::nanoseconds now{0};
      MonitorSystem seams = windows_monitor_system();
      const auto real_open = seams.open_parent;
      const auto real_wait = seams.wait_for_parent;
      seams.monotonic_now = [&] { return now; };
      seams.sleep = [&](std::chrono::milliseconds d) { now += d; };
      seams.open_parent = [&, real_open](std::uint32_t pid) {
        const ParentOpening opening = real_open(pid);
        EXPECT_EQ(opening, ParentOpening::kHeld);
        return held ? opening : ParentOpening::kUnopenable;
      };
      seams.wait_for_parent = [&, real_wait](std::chrono::milliseconds d) {
        ++polls;
        now += d;
        return real_wait(std::chrono::milliseconds(0));
      };
      seams.parent_running = [&](std::uint32_t pid) {
        ++polls;
        return parent_process_running(pid);
      };
      NullSink sink;
      code = run_watchdog({static_cast<std::uint32_t>(parent.pid), "C:\\no.flag"}, seams, sink,
                          [] { ADD_FAILURE() << "recovery must not run"; });
    }  // the seams let the held handle go
    ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &after));

    EXPECT_EQ(code, kExitClean) << held;  // the lifetime ran out; the parent never looked gone
    EXPECT_EQ(polls, 43'201) << held;
    EXPECT_EQ(after, before) << held;
  }
  ::TerminateProcess(parent.process.get(), 0);
}

}  // namespace
}  // namespace nuv
