// How the runner's time limits appear in its messages.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/process/command_runner.h"
#include "platform/process/duration_text.h"

namespace nuv {
namespace {

using namespace std::chrono_literals;

TEST(DurationText, WholeSecondsInSecondsOthersInMilliseconds) {
  EXPECT_EQ(describe_duration(kExitDeadline), "120 s");
  EXPECT_EQ(describe_duration(kPipeGracePeriod), "5 s");
  EXPECT_EQ(describe_duration(250ms), "250 ms");
}

}  // namespace
}  // namespace nuv
