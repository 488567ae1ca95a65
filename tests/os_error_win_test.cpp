// The display text of a system error code, as the system's messages give it.
#include <gtest/gtest.h>

#include <string>

#include "common/os_error.h"

namespace nuv {
namespace {

TEST(OsError, TextIsTheSystemsMessageAndTheCode) {
  const std::string text = os_error_text(2);
  const std::string suffix = " (os error 2)";
  ASSERT_GT(text.size(), suffix.size());
  EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix);
  EXPECT_NE(text[text.size() - suffix.size() - 1], '\n');  // the system's line end is gone
  EXPECT_NE(text[text.size() - suffix.size() - 1], ' ');

  const std::string unknown = os_error_text(0x01234567);
  EXPECT_EQ(unknown.rfind("OS Error 19088743 (FormatMessageW() returned error ", 0), 0u) << unknown;
  EXPECT_EQ(unknown.substr(unknown.size() - 21), ") (os error 19088743)");
}

}  // namespace
}  // namespace nuv
