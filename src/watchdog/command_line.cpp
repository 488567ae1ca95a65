#include "watchdog/command_line.h"

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

namespace {

Unexpected<StartupRefusal> usage() { return unexpected(StartupRefusal{usage_message()}); }

// Every argument as UTF-8, or the refusal that names the first that is not
// Unicode text.
Result<std::vector<std::string>, StartupRefusal> to_utf8(
    const std::vector<std::u16string>& arguments) {
  std::vector<std::string> utf8;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    auto converted = utf16_to_utf8(arguments[i]);
    if (!converted) return unexpected(StartupRefusal{invalid_unicode_message(i + 1)});
    utf8.push_back(std::move(*converted));
  }
  return utf8;
}

Result<Invocation, StartupRefusal> keyword_form(const std::vector<std::string>& arguments) {
  const std::string& keyword = arguments.front();
  const std::size_t extra = arguments.size() - 1;
  if (keyword == "--recover") {
    if (extra != 0) return usage();
    return Invocation{RecoverRequest{}};
  }
  if (keyword == "--plan") {
    if (extra > 1) return usage();
    return Invocation{PlanRequest{extra == 1 ? std::optional(arguments[1]) : std::nullopt}};
  }
  if (keyword == "--help" || keyword == "/?") {
    if (extra != 0) return usage();
    return Invocation{HelpRequest{}};
  }
  if (extra != 0) return usage();
  return Invocation{VersionRequest{}};
}

bool is_keyword(std::u16string_view argument) {
  return argument == u"--recover" || argument == u"--plan" || argument == u"--help" ||
         argument == u"/?" || argument == u"--version";
}

}  // namespace

Result<Invocation, StartupRefusal> parse_invocation(const std::vector<std::u16string>& arguments) {
  if (!arguments.empty() && is_keyword(arguments.front())) {
    auto utf8 = to_utf8(arguments);
    if (!utf8) return unexpected(std::move(utf8.error()));
    return keyword_form(*utf8);
  }
  auto watched = parse_command_line(arguments);
  if (!watched) return unexpected(std::move(watched.error()));
  return Invocation{std::move(*watched)};
}

Result<WatchdogArguments, StartupRefusal> parse_command_line(
    const std::vector<std::u16string>& arguments) {
  if (arguments.size() != 2) return usage();
  auto utf8 = to_utf8(arguments);
  if (!utf8) return unexpected(std::move(utf8.error()));
  const auto pid = parse_parent_pid((*utf8)[0]);
  if (!pid) return unexpected(StartupRefusal{invalid_pid_message((*utf8)[0])});
  return WatchdogArguments{*pid, std::move((*utf8)[1])};
}

}  // namespace nuv
