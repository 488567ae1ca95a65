// The layout of a log line: "2026-12-09T07:22:55.123Z [4242] text".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nuv {

// A UTC wall-clock reading, used only to stamp log lines.
struct UtcTime {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// What a log line adds to its text at most: the longest stamp,
// "9999-12-31T23:59:59.999Z [4294967295] ", and the line feed.
inline constexpr std::size_t kLogLineOverhead = 39;

// The line with its line feed. A carriage return or line feed inside `text`
// is written as \r or \n, so that one call is always one line.
std::string format_log_line(const UtcTime& time, std::uint32_t pid, std::string_view text);

}  // namespace nuv
