#include "platform/rollback/ip_address.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/ip_text.h"

namespace nuv {
namespace {

using test::ip;

TEST(IpAddress, ParsingReadsCanonicalTextAndWritesItBack) {
  for (const auto& [text, written] : std::vector<std::pair<std::string, std::string>>{
           {"0.0.0.0", "0.0.0.0"},
           {"10.8.0.1", "10.8.0.1"},
           {"255.255.255.255", "255.255.255.255"},
           {"100.64.0.10", "100.64.0.10"},
           {"::", "::"},
           {"::1", "::1"},
           {"fd00::1", "fd00::1"},
           {"FD00::A", "fd00::a"},
           {"0001:0db8::", "1:db8::"},
           {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
           {"1:0:0:0:0:0:0:8", "1::8"},
           {"1:0:2:3:4:5:6:7", "1:0:2:3:4:5:6:7"},
           {"1:0:0:2:0:0:0:3", "1:0:0:2::3"},
           {"1:0:0:2:2:0:0:3", "1::2:2:0:0:3"},
           {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
           {"::2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8"},
           {"fe80::abcd:ef01", "fe80::abcd:ef01"},
       }) {
    const auto address = parse_ip_address(text);
    ASSERT_TRUE(address) << text;
    EXPECT_EQ(ip_address_text(*address), written) << text;
  }
  EXPECT_EQ(ip("10.8.0.1"), (IpAddress{IpAddress::Family::kV4, {10, 8, 0, 1}}));
  EXPECT_EQ(ip("fd00::1"), (IpAddress{IpAddress::Family::kV6,
                                      {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}}));
  EXPECT_NE(ip("0.0.0.0"), ip("::"));
}

TEST(IpAddress, ParsingRefusesEveryOtherForm) {
  for (const char* text : {"",
                           " ",
                           "010.8.0.1",
                           "10.08.0.1",
                           "00.0.0.0",
                           "10.8.0.01",
                           "256.0.0.1",
                           "1.2.3",
                           "1.2.3.4.5",
                           "1..2.3",
                           "1.2.3.4.",
                           ".1.2.3.4",
                           " 1.2.3.4",
                           "1.2.3.4 ",
                           "1.2. 3.4",
                           "1.2.3.4\n",
                           "1.2.3.4\t",
                           "+1.2.3.4",
                           "1.2.3.-4",
                           "0x1.2.3.4",
                           "1.2.3.4/8",
                           "1000.0.0.1",
                           "4294967297",
                           "::ffff:1.2.3.4",
                           "::1.2.3.4",
                           "64:ff9b::10.0.0.1",
                           "fe80::1%7",
                           "fe80::1%eth0",
                           "localhost",
                           "host.example",
                           "1:2:3:4:5:6:7:8:9",
                           "1:2:3:4:5:6:7",
                           "1::2::3",
                           ":::",
                           "::1:",
                           "1:2:3:4:5:6:7:8::",
                           "::1:2:3:4:5:6:7:8",
                           ":1:2:3:4:5:6:7:8",
                           "1:2:3:4:5:6:7:8:",
                           "12345::",
                           "g::1",
                           "fd00::1 ",
                           " fd00::1",
                           "fd00 ::1",
                           "[fd00::1]",
                           "fd00::/8"}) {
    EXPECT_EQ(parse_ip_address(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(IpAddress, ParsingDestinationsTakeAnOptionalLength) {
  for (const auto& [text, address, length] :
       std::vector<std::tuple<std::string, std::string, std::optional<std::uint8_t>>>{
           {"0.0.0.0/0", "0.0.0.0", 0},
           {"0.0.0.0/1", "0.0.0.0", 1},
           {"10.0.0.5", "10.0.0.5", std::nullopt},
           {"1.2.3.4/32", "1.2.3.4", 32},
           {"::/0", "::", 0},
           {"fd00::/128", "fd00::", 128},
       }) {
    EXPECT_EQ(parse_destination(text), (IpDestination{ip(address), length})) << text;
  }
  for (const char* text :
       {"", "/", "/8", "10.0.0.0/", "10.0.0.0/33", "10.0.0.0/08", "10.0.0.0/00", "fd00::/129",
        "10.0.0.0/8/8", "10.0.0.0/ 8", "10.0.0.0 /8", "10.0.0.0/-1", "10.0.0.0/+8", "10.0.0.0/1000",
        "010.0.0.0/8", "fe80::1%7/64", "::ffff:1.2.3.4/128", "10.0.0.0/8 "}) {
    EXPECT_EQ(parse_destination(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(IpAddress, MaskingClearsEveryBitBeyondTheLength) {
  for (const auto& [address, length, expected] :
       std::vector<std::tuple<std::string, std::uint8_t, std::string>>{
           {"10.1.2.3", 8, "10.0.0.0"},
           {"10.1.2.3", 0, "0.0.0.0"},
           {"10.1.2.3", 32, "10.1.2.3"},
           {"10.1.2.3", 40, "10.1.2.3"},
           {"10.255.255.255", 12, "10.240.0.0"},
           {"255.255.255.255", 31, "255.255.255.254"},
           {"128.0.0.1", 1, "128.0.0.0"},
           {"fd00:1234:5678::1", 16, "fd00::"},
           {"fd00:1fff::1", 20, "fd00:1000::"},
           {"ffff::ffff", 128, "ffff::ffff"},
           {"ffff::ffff", 127, "ffff::fffe"},
           {"ffff:ffff::", 0, "::"},
       }) {
    EXPECT_EQ(masked(ip(address), length), ip(expected)) << address << '/' << int{length};
  }
}

}  // namespace
}  // namespace nuv
