// An address from its text, for test tables: a text the strict parser
// refuses fails the test that wrote it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/rollback/ip_address.h"

namespace nuv::test {

inline IpAddress ip(const std::string& text) {
  const auto address = parse_ip_address(text);
  EXPECT_TRUE(address) << text;
  return address.value_or(IpAddress{});
}

}  // namespace nuv::test
