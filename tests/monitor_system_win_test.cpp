// How the real monitor reads the system's answers about the parent.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "support/recording.h"
#include "watchdog/exit_codes.h"
#include "watchdog/monitor_system_win.h"

namespace nuv {
namespace {

using test::NullSink;

// An OpenProcess that refuses every process with `error`.
OpenProcessCall refusing_with(std::uint32_t error) {
  return [error](std::uint32_t) -> ProcessOpening { return unexpected(OsError{error}); };
}

struct Refusal {
  DWORD error;
  bool running;  // what the refusal says of the parent
};

// Only "no such process" means gone. A denial or a shortage says nothing of
// the parent's life: taken for its death, it would undo a live client's
// network.
const Refusal kRefusals[] = {
    {ERROR_INVALID_PARAMETER, false},
    {ERROR_ACCESS_DENIED, true},
    {ERROR_NOT_ENOUGH_QUOTA, true},
    {ERROR_NO_SYSTEM_RESOURCES, true},
};

TEST(MonitorSystem, OnlyANonexistentProcessIdMeansTheParentIsGone) {
  for (const auto& [error, running] : kRefusals) {
    UniqueHandle held;
    EXPECT_EQ(open_parent_process(1234, held, refusing_with(error)),
              running ? ParentOpening::kUnopenable : ParentOpening::kGone)
        << error;
    EXPECT_FALSE(held.valid());
    EXPECT_EQ(parent_process_running(1234, refusing_with(error)), running) << error;
  }
}

// The same through the whole monitor, with time faked: a parent that can
// never be opened is watched for its day unless the system says it does not
// exist.
TEST(MonitorSystem, ARefusedParentIsWatchedUntilTheLifetimeRunsOut) {
  for (const auto& [error, running] : kRefusals) {
    std::chrono::nanoseconds now{0};
    MonitorSystem system = windows_monitor_system(refusing_with(error));
    system.monotonic_now = [&] { return now; };
    system.sleep = [&](std::chrono::milliseconds d) { now += d; };
    NullSink sink;
    bool recovered = false;
    const int code = run_watchdog({1234, "C:\\no such folder\\clean.flag"}, system, sink,
                                  [&] { recovered = true; });
    EXPECT_EQ(code, running ? kExitClean : kExitRecovered) << error;
    EXPECT_EQ(recovered, !running) << error;
    EXPECT_EQ(now > std::chrono::nanoseconds(kMaxLifetime), running) << error;
  }
}

}  // namespace
}  // namespace nuv
