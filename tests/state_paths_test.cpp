#include <gtest/gtest.h>

#include <string>

#include "state/state_paths.h"

namespace nuv {
namespace {

const std::string kState = R"(C:\Users\u\AppData\Roaming\NUV Client\system_state.json)";

TEST(StatePaths, JoinWithOneSeparator) {
  EXPECT_EQ(state_paths("C:\\Users\\u\\AppData\\Roaming").state, kState);
  EXPECT_EQ(state_paths("C:\\Users\\u\\AppData\\Roaming\\").state, kState);
  EXPECT_EQ(state_paths("C:\\Users\\u\\AppData\\Roaming").meta, kState + ".meta");
  EXPECT_EQ(state_paths("").state, "NUV Client\\system_state.json");
}

}  // namespace
}  // namespace nuv
