// IP addresses as the read-back compares them: strict text in, the system's
// bytes out, and the canonical text back for the log.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nuv {

// An IPv4 or IPv6 address as the system stores it, in network order.
struct IpAddress {
  enum class Family : std::uint8_t { kV4, kV6 };
  Family family = Family::kV4;
  std::array<std::uint8_t, 16> bytes{};  // IPv4 uses the first four
  bool operator==(const IpAddress&) const = default;
};

// Strict: canonical dotted decimal without leading zeros ("10.8.0.1", not
// "010.8.0.1", which some parsers read as octal), or standard IPv6 text
// ("fd00::1"). Absent for anything else: an IPv4-mapped or dotted IPv6 form,
// a zone ("fe80::1%7"), white space, a host name.
std::optional<IpAddress> parse_ip_address(std::string_view text);

// "10.8.0.1", "fd00::1" (RFC 5952: lower case, the longest run of zeros
// shortened).
std::string ip_address_text(const IpAddress& address);

// A route's destination: an address with an optional "/length".
struct IpDestination {
  IpAddress address;
  std::optional<std::uint8_t> prefix_length;
  bool operator==(const IpDestination&) const = default;
};
std::optional<IpDestination> parse_destination(std::string_view text);

// `address` with every bit beyond `prefix_length` cleared.
IpAddress masked(const IpAddress& address, std::uint8_t prefix_length);

}  // namespace nuv
