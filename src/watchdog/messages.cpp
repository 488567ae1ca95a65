#include "watchdog/messages.h"

#include "common/list_notation.h"
#include "common/utf.h"

namespace nuv {
namespace {

constexpr std::string_view kPrefix = "nuv-watchdog: ";

std::string prefixed(std::string_view text) {
  std::string line(kPrefix);
  line += text;
  return line;
}

// Appends an argument as received, except the characters that would end or
// break the line: the C0 controls, DEL, U+0085, U+2028 and U+2029, escaped as
// the error list escapes them. A Windows path cannot hold any of them, so an
// ordinary path, backslashes and all, reads as typed.
void append_echoed(std::string& line, std::string_view argument) {
  for (std::size_t pos = 0; pos < argument.size();) {
    const Utf8Step step = decode_utf8_step(argument, pos);
    const char32_t c = step.code_point;
    if (step.valid && (c < 0x20 || c == 0x7F || c == 0x85 || c == 0x2028 || c == 0x2029)) {
      append_escape(line, c);
    } else {
      line.append(argument, pos, step.length);
    }
    pos += step.length;
  }
}

}  // namespace

std::string usage_message() { return "usage: nuv-watchdog <parent_pid> <clean_flag_path>"; }

std::vector<std::string> help_lines() {
  return {
      usage_message(),
      "       nuv-watchdog --recover",
      "       nuv-watchdog --plan [journal_path]",
      "       nuv-watchdog --help | /? | --version",
  };
}

std::string version_message(std::string_view version) {
  std::string line = "nuv-watchdog ";
  line += version;
  return line;
}

std::string invalid_pid_message(std::string_view argument) {
  std::string line = prefixed("invalid PID '");
  append_echoed(line, argument);
  line += '\'';
  return line;
}

std::string invalid_unicode_message(std::size_t position) {
  return prefixed("argument " + std::to_string(position) + " is not valid Unicode text");
}

std::string monitoring_message(std::uint32_t parent_pid, std::string_view clean_flag) {
  std::string line = prefixed("monitoring pid=" + std::to_string(parent_pid) + " clean_flag=");
  append_echoed(line, clean_flag);
  return line;
}

std::string max_lifetime_message() { return prefixed("max lifetime reached, exiting cleanly"); }

std::string clean_shutdown_message() { return prefixed("parent shut down cleanly (flag present)"); }

std::string parent_disappeared_message(std::uint32_t parent_pid) {
  return prefixed("parent pid=" + std::to_string(parent_pid) +
                  " disappeared without clean flag \xE2\x80\x94 running recovery");
}

std::string recovery_on_request_message() { return prefixed("running recovery on request"); }

std::string watchdog_monitoring_refusal_message() {
  return prefixed("a watchdog is monitoring a running client; recovery not started");
}

std::string recovery_running_refusal_message() {
  return prefixed("another recovery of this journal is still running; recovery not started");
}

std::string orphan_cleanup_message(std::uint64_t orphans) {
  if (orphans == 0) return prefixed("no wintun orphans");
  return prefixed("cleaned " + std::to_string(orphans) + " wintun orphan(s)");
}

std::string state_recovery_message(const std::optional<ErrorList>& errors) {
  if (!errors) return prefixed("no system_state to recover");
  if (errors->empty()) return prefixed("system_state recovery clean");
  // "errors" whatever the count: the wording is fixed.
  return prefixed("system_state recovery had " + std::to_string(errors->count()) +
                  " errors: " + error_list_notation(*errors));
}

std::string state_left_alone_message() {
  return prefixed("system_state left alone: a watchdog is monitoring a running client");
}

}  // namespace nuv
