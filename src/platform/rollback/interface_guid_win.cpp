#include "platform/rollback/interface_guid_win.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace nuv {
namespace {

// "{" 8 "-" 4 "-" 4 "-" 4 "-" 12 "}"
constexpr std::size_t kGuidTextLength = 38;
constexpr std::array<std::size_t, 4> kDashes = {9, 14, 19, 24};
constexpr char kHexDigits[] = "0123456789ABCDEF";

std::optional<std::uint8_t> hex_value(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  return std::nullopt;
}

// The GUID's 16 bytes in the order its text spells them: Data1, Data2 and
// Data3 most significant byte first, then Data4 as stored.
std::array<std::uint8_t, 16> text_order_bytes(const GUID& guid) {
  std::array<std::uint8_t, 16> bytes{};
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(guid.Data1 >> (24 - 8 * i));
  for (int i = 0; i < 2; ++i) {
    bytes[4 + i] = static_cast<std::uint8_t>(guid.Data2 >> (8 - 8 * i));
    bytes[6 + i] = static_cast<std::uint8_t>(guid.Data3 >> (8 - 8 * i));
  }
  for (int i = 0; i < 8; ++i) bytes[8 + i] = guid.Data4[i];
  return bytes;
}

}  // namespace

std::string interface_guid_text(const GUID& guid) {
  const auto bytes = text_order_bytes(guid);
  std::string text = "{";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHexDigits[bytes[i] >> 4];
    text += kHexDigits[bytes[i] & 0x0F];
  }
  text += '}';
  return text;
}

std::optional<GUID> parse_interface_guid(std::string_view text) {
  if (text.size() != kGuidTextLength || text.front() != '{' || text.back() != '}') {
    return std::nullopt;
  }
  std::array<std::uint8_t, 16> bytes{};
  std::size_t digits = 0;
  for (std::size_t pos = 1; pos + 1 < text.size(); ++pos) {
    const bool dash_here =
        pos == kDashes[0] || pos == kDashes[1] || pos == kDashes[2] || pos == kDashes[3];
    if (dash_here) {
      if (text[pos] != '-') return std::nullopt;
      continue;
    }
    const auto value = hex_value(text[pos]);
    if (!value) return std::nullopt;
    bytes[digits / 2] = static_cast<std::uint8_t>(bytes[digits / 2] << 4 | *value);
    ++digits;
  }
  GUID guid{};
  guid.Data1 = static_cast<unsigned long>(bytes[0]) << 24 |
               static_cast<unsigned long>(bytes[1]) << 16 |
               static_cast<unsigned long>(bytes[2]) << 8 | bytes[3];
  guid.Data2 = static_cast<unsigned short>(bytes[4] << 8 | bytes[5]);
  guid.Data3 = static_cast<unsigned short>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) guid.Data4[i] = bytes[8 + i];
  return guid;
}

}  // namespace nuv
