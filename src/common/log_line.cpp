#include "common/log_line.h"

#include <array>
#include <cstdio>

namespace nuv {

std::string format_log_line(const UtcTime& time, std::uint32_t pid, std::string_view text) {
  std::array<char, 64> stamp{};
  const int n =
      std::snprintf(stamp.data(), stamp.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ [%lu] ",
                    time.year, time.month, time.day, time.hour, time.minute, time.second,
                    time.millisecond, static_cast<unsigned long>(pid));
  std::string line(stamp.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
  line.reserve(line.size() + text.size() + 1);
  for (const char c : text) {
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else {
      line += c;
    }
  }
  line += '\n';
  return line;
}

}  // namespace nuv
