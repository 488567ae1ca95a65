// A thousand commands must leave the process with the handles it had.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/process/command_runner.h"
#include "support/checked_win.h"

namespace nuv {
namespace {

// Wine 8 now and then fails CreateProcessW with ERROR_INTERNAL_ERROR: a few
// launches in ten thousand, from a parent whose other threads are busy (a
// bare CreateProcessW loop run from a thread, with two threads reading the
// pipes, shows it as often). Such a run must still release every handle, so
// it is counted rather than fatal; any other failure fails the test.
constexpr std::uint32_t kWineSpuriousCreateProcessError = 1359;

TEST(RunCommandSoak, AThousandRunsLeakNoHandle) {
  const std::string helper = test::narrow(test::program_folder() + L"nuv-test-child.exe");
  EventLoop loop;
  int spurious = 0;
  const auto run_once = [&] {
    auto out = loop.run_blocking(run_command(loop, {helper, {"write", "10", "10", "0"}}));
    if (!out && out.error().kind == LaunchErrorKind::kOsError &&
        out.error().os_code == kWineSpuriousCreateProcessError) {
      ++spurious;
      return;
    }
    ASSERT_TRUE(out) << out.error().text;
    ASSERT_EQ(out->stdout_bytes, "abcdefghij");
  };
  // The first run starts the blocking workers and whatever the system sets
  // up once (its wait thread among them).
  for (int i = 0; i < 5; ++i) run_once();

  const std::size_t workers_before = loop.blocking_workers();
  DWORD before = 0, after = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &before));
  for (int i = 0; i < 1000; ++i) {
    run_once();
    if (::testing::Test::HasFatalFailure()) return;
  }
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &after));
  // A worker may have been added when one had not yet gone back to idle as
  // the next run started; each holds exactly its thread's handle.
  const std::size_t new_workers = loop.blocking_workers() - workers_before;
  EXPECT_EQ(after, before + new_workers) << new_workers << " new blocking workers";
  EXPECT_LE(spurious, 10) << "process creation failed " << spurious << " times";
  if (spurious > 0) std::printf("note: %d spurious process-creation failures\n", spurious);
}

}  // namespace
}  // namespace nuv
