#include "watchdog/command_line.h"

#include <array>
#include <limits>
#include <utility>

#include "common/utf.h"
#include "watchdog/messages.h"

namespace nuv {

std::optional<std::uint32_t> parse_parent_pid(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    // Checked per digit, so that no length of digits can overflow.
    if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

Result<WatchdogArguments, StartupRefusal> parse_command_line(
    const std::vector<std::u16string>& arguments) {
  if (arguments.size() != 2) return unexpected(StartupRefusal{usage_message()});

  std::array<std::string, 2> utf8;
  for (std::size_t i = 0; i < 2; ++i) {
    auto converted = utf16_to_utf8(arguments[i]);
    if (!converted) return unexpected(StartupRefusal{invalid_unicode_message(i + 1)});
    utf8[i] = std::move(*converted);
  }

  const auto pid = parse_parent_pid(utf8[0]);
  if (!pid) return unexpected(StartupRefusal{invalid_pid_message(utf8[0])});
  return WatchdogArguments{*pid, std::move(utf8[1])};
}

}  // namespace nuv
