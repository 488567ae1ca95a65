// A day of polls against a live parent must not leak a single handle.
#include <gtest/gtest.h>

#include "support/process_win.h"
#include "watchdog/exit_codes.h"
#include "watchdog/monitor_system_win.h"

namespace nuv {
namespace {

struct NullSink final : MessageSink {
  void write_line(std::string_view) override {}
};

TEST(MonitorHandleSoak, DayOfPollsOnALiveParentKeepsTheHandleCount) {
  auto parent =
      test::start_plain(test::program_folder() + L"nuv-test-child.exe", L"nuv-test-child wait");
  ASSERT_TRUE(parent.process.valid());
  ASSERT_TRUE(parent_process_running(parent.pid));  // warms up whatever the first call sets up

  std::chrono::nanoseconds now{0};
  long polls = 0;
  MonitorSeams seams = system_monitor_seams();
  seams.monotonic_now = [&] { return now; };
  seams.sleep = [&](std::chrono::milliseconds d) { now += d; };
  seams.parent_running = [&](std::uint32_t pid) {
    ++polls;
    return parent_process_running(pid);
  };

  DWORD before = 0, after = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &before));
  NullSink sink;
  const int code = run_watchdog({static_cast<std::uint32_t>(parent.pid), "C:\\no.flag"}, seams,
                                sink, [] { ADD_FAILURE() << "recovery must not run"; });
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &after));

  EXPECT_EQ(code, kExitClean);  // the lifetime ran out; the parent never looked gone
  EXPECT_EQ(polls, 43'201);
  EXPECT_EQ(after, before);
  ::TerminateProcess(parent.process.get(), 0);
}

}  // namespace
}  // namespace nuv
