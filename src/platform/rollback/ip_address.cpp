// Strict address text: only the forms the system itself writes are read, so
// that a journal value which some parser would take otherwise (octal "010",
// a zone, a dotted tail) is never compared as if it were clear.
#include "platform/rollback/ip_address.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuv {
namespace {

constexpr std::uint8_t kV4Bits = 32;
constexpr std::uint8_t kV6Bits = 128;

bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

std::optional<unsigned> hex_value(char ch) {
  if (is_digit(ch)) return static_cast<unsigned>(ch - '0');
  if (ch >= 'a' && ch <= 'f') return static_cast<unsigned>(ch - 'a' + 10);
  if (ch >= 'A' && ch <= 'F') return static_cast<unsigned>(ch - 'A' + 10);
  return std::nullopt;
}

// Decimal without a leading zero ("0" alone is allowed), at most `max`.
std::optional<unsigned> parse_decimal(std::string_view text, unsigned max) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  if (text.size() > 1 && text.front() == '0') return std::nullopt;
  unsigned value = 0;
  for (const char ch : text) {
    if (!is_digit(ch)) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(ch - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t at = text.find(separator); at != std::string_view::npos;
       at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::optional<IpAddress> parse_v4(std::string_view text) {
  const auto parts = split(text, '.');
  if (parts.size() != 4) return std::nullopt;
  IpAddress address{IpAddress::Family::kV4, {}};
  for (std::size_t i = 0; i < 4; ++i) {
    const auto octet = parse_decimal(parts[i], 255);
    if (!octet) return std::nullopt;
    address.bytes[i] = static_cast<std::uint8_t>(*octet);
  }
  return address;
}

// Groups of 1 to 4 hex digits separated by single colons; empty text is no
// groups at all (one side of "::").
std::optional<std::vector<std::uint16_t>> parse_groups(std::string_view text) {
  std::vector<std::uint16_t> groups;
  if (text.empty()) return groups;
  for (const std::string_view part : split(text, ':')) {
    if (part.empty() || part.size() > 4) return std::nullopt;
    unsigned value = 0;
    for (const char ch : part) {
      const auto digit = hex_value(ch);
      if (!digit) return std::nullopt;
      value = value * 16 + *digit;
    }
    groups.push_back(static_cast<std::uint16_t>(value));
  }
  return groups;
}

std::optional<IpAddress> parse_v6(std::string_view text) {
  std::optional<std::vector<std::uint16_t>> head;
  std::optional<std::vector<std::uint16_t>> tail;
  const std::size_t gap = text.find("::");
  if (gap == std::string_view::npos) {
    head = parse_groups(text);
    if (!head || head->size() != 8) return std::nullopt;
    tail.emplace();
  } else {
    head = parse_groups(text.substr(0, gap));
    tail = parse_groups(text.substr(gap + 2));  // a second "::" leaves an empty group here
    if (!head || !tail || head->size() + tail->size() > 7) return std::nullopt;
  }
  IpAddress address{IpAddress::Family::kV6, {}};
  const auto put = [&address](std::size_t group, std::uint16_t value) {
    address.bytes[2 * group] = static_cast<std::uint8_t>(value >> 8);
    address.bytes[2 * group + 1] = static_cast<std::uint8_t>(value & 0xFF);
  };
  for (std::size_t i = 0; i < head->size(); ++i) put(i, (*head)[i]);
  for (std::size_t i = 0; i < tail->size(); ++i) put(8 - tail->size() + i, (*tail)[i]);
  return address;
}

std::uint8_t address_bits(IpAddress::Family family) {
  return family == IpAddress::Family::kV4 ? kV4Bits : kV6Bits;
}

}  // namespace

std::optional<IpAddress> parse_ip_address(std::string_view text) {
  // A colon makes it IPv6, where a dot, a per cent sign or a space is not a
  // hex digit and so refused: no dotted tail, no zone.
  if (text.find(':') != std::string_view::npos) return parse_v6(text);
  return parse_v4(text);
}

std::string ip_address_text(const IpAddress& address) {
  if (address.family == IpAddress::Family::kV4) {
    return std::to_string(address.bytes[0]) + '.' + std::to_string(address.bytes[1]) + '.' +
           std::to_string(address.bytes[2]) + '.' + std::to_string(address.bytes[3]);
  }
  std::array<unsigned, 8> groups{};
  for (std::size_t i = 0; i < 8; ++i) {
    groups[i] = (static_cast<unsigned>(address.bytes[2 * i]) << 8) | address.bytes[2 * i + 1];
  }
  // The first longest run of two or more zero groups becomes "::".
  std::size_t best_start = 8;
  std::size_t best_length = 1;
  for (std::size_t i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - i > best_length) {
      best_start = i;
      best_length = end - i;
    }
    i = end;
  }
  static constexpr std::string_view kHex = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < 8; ++i) {
    if (i == best_start) {
      text += "::";
      i += best_length - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = (groups[i] >> shift) & 0xF;
      if (digit == 0 && !started && shift > 0) continue;
      started = true;
      text += kHex[digit];
    }
  }
  return text;
}

std::optional<IpDestination> parse_destination(std::string_view text) {
  const std::size_t slash = text.find('/');
  const auto address = parse_ip_address(text.substr(0, slash));
  if (!address) return std::nullopt;
  if (slash == std::string_view::npos) return IpDestination{*address, std::nullopt};
  const auto length = parse_decimal(text.substr(slash + 1), address_bits(address->family));
  if (!length) return std::nullopt;
  return IpDestination{*address, static_cast<std::uint8_t>(*length)};
}

IpAddress masked(const IpAddress& address, std::uint8_t prefix_length) {
  IpAddress result = address;
  const unsigned bits = std::min(prefix_length, address_bits(address.family));
  for (std::size_t i = 0; i < result.bytes.size(); ++i) {
    const unsigned first_bit = 8 * static_cast<unsigned>(i);
    if (first_bit >= bits) {
      result.bytes[i] = 0;
    } else if (bits - first_bit < 8) {
      result.bytes[i] &= static_cast<std::uint8_t>(0xFF << (8 - (bits - first_bit)));
    }
  }
  return result;
}

}  // namespace nuv
