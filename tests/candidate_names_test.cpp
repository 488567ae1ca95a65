#include <gtest/gtest.h>

#include <algorithm>

#include "platform/wintun/candidate_names.h"

namespace nuv {
namespace {

TEST(CandidateNames, SixtySixNamesFromThirtyTwoDownThenThePlainOnes) {
  const auto names = wintun_candidate_names();
  ASSERT_EQ(names.size(), 66u);
  EXPECT_EQ(names[0], "utun-nuv 32");
  EXPECT_EQ(names[1], "NuvCore 32");
  EXPECT_EQ(names[2], "utun-nuv 31");
  EXPECT_EQ(names[62], "utun-nuv 1");
  EXPECT_EQ(names[63], "NuvCore 1");
  EXPECT_EQ(names[64], "utun-nuv");
  EXPECT_EQ(names[65], "NuvCore");
  for (const char* never : {"utun-nuv 33", "utun-nuv 0", "utun-nuv-2", "NuvCore 33"}) {
    EXPECT_EQ(std::count(names.begin(), names.end(), never), 0) << never;
  }
}

}  // namespace
}  // namespace nuv
