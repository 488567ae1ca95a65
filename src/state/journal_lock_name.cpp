#include "state/journal_lock_name.h"

#include <cstdint>

namespace nuv {

// 64-bit FNV-1a over the UTF-16 code units. Two journals whose names collide
// would only wait for each other, never lose a record; and a watchdog sees a
// handful of journals at most.
namespace {

std::u16string hashed_name(std::u16string_view prefix, std::u16string_view upper_case_full_path) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  const auto mix = [&hash](unsigned byte) {
    hash ^= byte;
    hash *= 0x100000001b3u;
  };
  for (const char16_t unit : upper_case_full_path) {
    mix(unit & 0xFFu);
    mix(static_cast<unsigned>(unit) >> 8u);
  }
  std::u16string name(prefix);
  for (int shift = 60; shift >= 0; shift -= 4) {
    name.push_back(u"0123456789abcdef"[(hash >> shift) & 0xFu]);
  }
  return name;
}

}  // namespace

std::u16string journal_lock_name(std::u16string_view upper_case_full_path) {
  return hashed_name(u"Local\\nuv-watchdog-journal-", upper_case_full_path);
}

std::u16string monitoring_marker_name(std::u16string_view upper_case_full_path) {
  return hashed_name(u"Local\\nuv-watchdog-monitor-", upper_case_full_path);
}

std::u16string pending_marker_name(std::u16string_view upper_case_full_path) {
  return hashed_name(u"Local\\nuv-watchdog-pending-", upper_case_full_path);
}

}  // namespace nuv
