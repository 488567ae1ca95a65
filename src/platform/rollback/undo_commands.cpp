#include "platform/rollback/undo_commands.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <utility>
#include <variant>

#include "common/ascii.h"
#include "common/list_notation.h"
#include "common/utf.h"

namespace nuv {
namespace {

const std::string kInternetSettings =
    R"(HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings)";

UndoStep counted_step(std::string program, std::vector<std::string> args,
                      std::string failure_prefix, std::string launch_prefix,
                      std::vector<std::string_view> tolerated = {},
                      std::uint32_t creation_flags = 0,
                      std::vector<std::uint32_t> tolerated_messages = {}) {
  return UndoStep{CommandRequest{std::move(program), std::move(args), creation_flags},
                  true,
                  std::move(tolerated),
                  std::move(tolerated_messages),
                  std::move(failure_prefix),
                  std::move(launch_prefix),
                  std::nullopt};
}

UndoStep ignored_step(std::string program, std::vector<std::string> args) {
  return UndoStep{
      CommandRequest{std::move(program), std::move(args), 0}, false, {}, {}, {}, {}, std::nullopt};
}

UndoStep refused(std::string launch_prefix, std::string reason) {
  UndoStep step;
  step.launch_prefix = std::move(launch_prefix);
  step.refusal = "refused: " + std::move(reason);
  return step;
}

bool is_ascii_space(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// netsh reads "name=all" as every rule on the machine, so a rule journalled
// under that name is never deleted by name: the undo would reach every rule.
// Tabs, line ends and double quotes around the word are stripped as well as
// spaces, since netsh's own trimming of its argument is not ours to rely on;
// refusing one rule too many only keeps it in the journal.
bool names_every_rule(std::string_view name) {
  const auto strip = [](char ch) { return is_ascii_space(ch) || ch == '"'; };
  while (!name.empty() && strip(name.front())) name.remove_prefix(1);
  while (!name.empty() && strip(name.back())) name.remove_suffix(1);
  return equal_ignoring_ascii_case(name, std::string_view("all"));
}

// route delete takes * and ? in an address as wildcards, deleting every
// route that matches rather than the one that was added.
bool has_wildcard(std::string_view address) {
  return address.find_first_of("*?") != std::string_view::npos;
}

// Every switch of route begins with - or /, and no address does: such a
// value would reach route as an option (-f clears the whole table).
bool is_switch(std::string_view address) {
  return !address.empty() && (address.front() == '-' || address.front() == '/');
}

// netsh reads "tag=value" as a named parameter wherever it stands: an
// address such as "gateway=all" would delete every gateway of the interface
// instead of the one address that was added, and an interface named so would
// do the same harm. No interface name, address or server needs the sign.
bool is_named_parameter(std::string_view value) { return value.find('=') != std::string::npos; }

// The refusal of a netsh undo one of whose positional values holds a named
// parameter: "interface", "address" or "server" says which.
std::optional<std::vector<UndoStep>> refused_named_parameter(std::string_view launch_prefix,
                                                             std::string_view interface_name,
                                                             const std::vector<std::string>& values,
                                                             std::string_view what) {
  std::string in_place_of;
  if (is_named_parameter(interface_name)) {
    in_place_of = "the interface";
  } else if (std::any_of(values.begin(), values.end(), is_named_parameter)) {
    in_place_of = std::string(what);
  } else {
    return std::nullopt;
  }
  return std::vector<UndoStep>{
      refused(std::string(launch_prefix), "a named parameter in place of " + in_place_of)};
}

std::vector<UndoStep> plan(const TunInterfaceUp& c) {
  if (auto refusal = refused_named_parameter("netsh delete address: ", c.interface_name,
                                             {c.address}, "the address")) {
    return std::move(*refusal);
  }
  return {
      counted_step("netsh", {"interface", "ip", "delete", "address", c.interface_name, c.address},
                   "netsh delete address failed: ", "netsh delete address: ",
                   {"not found", "The filename, directory name"}, 0, {kNotFound, kInvalidName})};
}

std::vector<UndoStep> plan(const RouteAdded& c) {
  if (has_wildcard(c.destination) || (c.gateway && has_wildcard(*c.gateway))) {
    return {refused("route delete: ", "wildcards in the address")};
  }
  if (is_switch(c.destination) || (c.gateway && is_switch(*c.gateway))) {
    return {refused("route delete: ", "an option in place of an address")};
  }
  std::vector<std::string> args{"delete", c.destination};
  if (c.gateway) args.push_back(*c.gateway);
  // "not in table" is route's own wording, not a system message: English only.
  return {counted_step("route", std::move(args), "route delete failed: ", "route delete: ",
                       {"not found", "not in table"}, 0, {kNotFound})};
}

std::vector<UndoStep> plan(const DnsOverridden& c) {
  if (c.interface_index) {
    return {counted_step("powershell",
                         {"-NoProfile", "-NonInteractive", "-WindowStyle", "Hidden", "-Command",
                          dns_restore_script(*c.interface_index, c.original_servers)},
                         "PowerShell DNS rollback failed: ", "powershell dns rollback: ", {},
                         kCreateNoWindow)};
  }
  if (c.original_servers.empty()) {
    if (auto refusal =
            refused_named_parameter("netsh set dns dhcp: ", c.interface_name, {}, "a server")) {
      return std::move(*refusal);
    }
    return {counted_step("netsh", {"interface", "ip", "set", "dns", c.interface_name, "dhcp"},
                         "netsh set dns dhcp failed: ", "netsh set dns dhcp: ")};
  }
  // The further servers, whose steps are ignored, too: the whole change is refused, since a server
  // list restored without one of them is not what the client had.
  if (auto refusal = refused_named_parameter("netsh set dns: ", c.interface_name,
                                             c.original_servers, "a server")) {
    return std::move(*refusal);
  }
  std::vector<UndoStep> steps{counted_step(
      "netsh", {"interface", "ip", "set", "dns", c.interface_name, "static", c.original_servers[0]},
      "netsh set dns failed: ", "netsh set dns: ")};
  for (std::size_t i = 1; i < c.original_servers.size(); ++i) {
    steps.push_back(ignored_step(
        "netsh", {"interface", "ip", "add", "dns", c.interface_name, c.original_servers[i]}));
  }
  return steps;
}

// "No rules" is netsh's own text, not a system message, so it stays English.
std::vector<UndoStep> plan(const FirewallRuleAdded& c) {
  if (names_every_rule(c.rule_name)) {
    return {refused("netsh delete rule: ", "the name all stands for every rule")};
  }
  return {counted_step("netsh",
                       {"advfirewall", "firewall", "delete", "rule", "name=" + c.rule_name},
                       "delete firewall rule failed: ", "netsh delete rule: ", {"No rules"})};
}

std::vector<UndoStep> plan(const SystemProxySet& c) {
  std::vector<UndoStep> steps{
      ignored_step("reg", {"add", kInternetSettings, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d",
                           c.original_enabled ? "1" : "0", "/f"})};
  if (c.original_server) {
    steps.push_back(ignored_step("reg", {"add", kInternetSettings, "/v", "ProxyServer", "/t",
                                         "REG_SZ", "/d", *c.original_server, "/f"}));
  }
  return steps;
}

std::vector<UndoStep> plan(const CustomCommand& c) {
  if (c.reverse_command.empty()) return {};
  return {counted_step(c.reverse_command.front(),
                       {c.reverse_command.begin() + 1, c.reverse_command.end()},
                       "custom rollback '" + c.description + "' failed: ",
                       "custom rollback '" + c.description + "': ")};
}

// PowerShell ends a single-quoted string at the ASCII quote and at each of
// the typographic single quotes U+2018 to U+201B; any of them written twice
// stands for itself. Doubling only the ASCII one would let a server entry such
// as "1.1.1.1<U+2019>); <command>; (<U+2019>" close the string and run
// the command.
void append_single_quoted_content(std::string& script, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\'') {
      script += "''";
      continue;
    }
    // U+2018..U+201B are E2 80 98..9B in UTF-8.
    if (text.substr(i, 2) == "\xE2\x80" && i + 2 < text.size()) {
      const auto third = static_cast<unsigned char>(text[i + 2]);
      if (third >= 0x98 && third <= 0x9B) {
        const std::string_view quote = text.substr(i, 3);
        script.append(quote).append(quote);
        i += 2;
        continue;
      }
    }
    script += text[i];
  }
}

}  // namespace

std::string dns_restore_script(std::uint32_t interface_index,
                               const std::vector<std::string>& servers) {
  std::string script =
      "Set-DnsClientServerAddress -InterfaceIndex " + std::to_string(interface_index);
  if (servers.empty()) return script + " -ResetServerAddresses -ErrorAction Stop";
  script += " -ServerAddresses @(";
  for (std::size_t i = 0; i < servers.size(); ++i) {
    if (i > 0) script += ',';
    script += '\'';
    append_single_quoted_content(script, servers[i]);
    script += '\'';
  }
  return script + ") -ErrorAction Stop";
}

std::vector<UndoStep> undo_plan(const SystemChange& change) {
  return std::visit([](const auto& c) { return plan(c); }, change);
}

namespace {

std::string shown_program(const UndoStep& step, const std::string& resolved) {
  return resolved.empty() ? step.request.program : resolved;
}

// A journal's arguments can be long; the log keeps their start.
std::string clipped(std::string text) {
  if (text.size() <= kLoggedArgumentBytes) return text;
  const std::size_t dropped = text.size() - kLoggedArgumentBytes;
  text.resize(kLoggedArgumentBytes);
  return decode_utf8_lossy(text) + more_bytes_text(dropped);
}

std::string milliseconds_since(std::chrono::steady_clock::time_point start) {
  return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count()) +
         " ms";
}

bool is_trailing_space_or_stop(std::string_view text, std::size_t& length) {
  static constexpr std::array<std::string_view, 10> kTrailing = {
      " ",
      "\t",
      "\r",
      "\n",
      "\v",
      "\f",
      ".",
      "\xC2\xA0",      // U+00A0 no-break space
      "\xE3\x80\x80",  // U+3000 ideographic space
      "\xE3\x80\x82",  // U+3002 ideographic full stop
  };
  for (const std::string_view end : kTrailing) {
    if (text.ends_with(end)) {
      length = end.size();
      return true;
    }
  }
  return false;
}

// The first reading that decodes cleanly is the one a person reads best;
// without one, the UTF-8 decoding with its replacement characters.
struct LoggedText {
  std::string text;
  std::uint64_t unlogged = 0;
};

LoggedText logged_standard_error(const CommandOutput& output,
                                 const std::vector<std::string>& readings) {
  const std::string& bytes = output.stderr_bytes;
  if (readings.empty() || readings.front() == bytes) {
    const std::uint64_t unlogged =
        bytes.size() > kLoggedStandardErrorBytes
            ? bytes.size() - kLoggedStandardErrorBytes + output.stderr_dropped
            : output.stderr_dropped;
    return {decode_utf8_lossy(std::string_view(bytes).substr(0, kLoggedStandardErrorBytes)),
            unlogged};
  }
  // A code page's reading, already UTF-8: cut at a character's start, and
  // count the rest of the reading's bytes and those the runner dropped.
  const std::string& reading = readings.front();
  std::size_t cut = std::min(reading.size(), kLoggedStandardErrorBytes);
  while (cut > 0 && cut < reading.size() &&
         (static_cast<unsigned char>(reading[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  return {reading.substr(0, cut), reading.size() - cut + output.stderr_dropped};
}

// Whether a failed step's answer says that the change was already gone: an
// English text anywhere in the UTF-8 decoding, or the system's own text of a
// tolerated message in any clean reading. A message text that could not be
// had, or is empty once trimmed, is never searched for: a doubtful match
// would drop a change that may still be live.
bool already_gone(const UndoStep& step, const std::string& stderr_text,
                  const std::vector<std::string>& readings, const UndoSystem& system) {
  for (const auto& text : step.tolerated) {
    if (stderr_text.find(text) != std::string::npos) return true;
  }
  if (!system.message_texts) return false;
  for (const std::uint32_t code : step.tolerated_messages) {
    for (const auto& message : system.message_texts(code)) {
      const std::string wanted = trimmed_message_text(message);
      if (wanted.empty()) continue;
      for (const auto& reading : readings) {
        if (reading.find(wanted) != std::string::npos) return true;
      }
    }
  }
  return false;
}

void announce_proxy_change(const UndoSystem& system, Log& log) {
  if (!system.announce_internet_settings_changed) return;
  if (const auto why_not = system.announce_internet_settings_changed()) {
    log.write("the Internet settings change was not announced: " + *why_not);
  } else {
    log.write("announced the Internet settings change to running programs");
  }
}

}  // namespace

std::string trimmed_message_text(std::string_view text) {
  std::size_t length = 0;
  while (is_trailing_space_or_stop(text, length)) text.remove_suffix(length);
  return std::string(text);
}

std::vector<std::string> standard_error_readings(std::string_view bytes, const UndoSystem& system) {
  std::vector<std::string> readings;
  if (is_valid_utf8(bytes)) readings.emplace_back(bytes);
  if (system.code_page_readings) {
    for (auto& reading : system.code_page_readings(bytes)) {
      // A reading that is not UTF-8 would be searched and logged as garbage.
      if (is_valid_utf8(reading)) readings.push_back(std::move(reading));
    }
  }
  return readings;
}

std::optional<std::string> undo_change(const SystemChange& change, const CommandRunner& run) {
  NullLog none;
  return undo_change(change, UndoSystem{run, {}, {}, {}}, none);
}

std::optional<std::string> undo_change(const SystemChange& change, const CommandRunner& run,
                                       Log& log) {
  return undo_change(change, UndoSystem{run, {}, {}, {}}, log);
}

std::optional<std::string> undo_change(const SystemChange& change, const UndoSystem& system,
                                       Log& log) {
  auto error = undo_change_error(change, system, log);
  if (!error) return std::nullopt;
  return text_with_more_bytes(*error);
}

std::optional<ErrorMessage> undo_change_error(const SystemChange& change, const UndoSystem& system,
                                              Log& log) {
  // Programs that use WinINet keep the proxy they read until told that it
  // changed; told whatever reg answered, since either write may have landed.
  const bool announce = std::holds_alternative<SystemProxySet>(change);
  for (const UndoStep& step : undo_plan(change)) {
    if (step.refusal) {
      log.write("undo not run: " + step.launch_prefix + *step.refusal);
      return ErrorMessage{step.launch_prefix + *step.refusal, 0};
    }
    const auto started = std::chrono::steady_clock::now();
    auto outcome = system.run(step.request);
    const std::string args = clipped(list_notation(step.request.args));
    if (!outcome) {
      log.write("could not run " + shown_program(step, outcome.error().program_path) + " " + args +
                ": " + outcome.error().text + (step.outcome_counts ? "" : " (ignored)"));
      if (!step.outcome_counts) continue;
      return ErrorMessage{step.launch_prefix + outcome.error().text, 0};
    }
    const std::string ran = "ran " + shown_program(step, outcome->program_path) + " " + args +
                            ": exit code " + std::to_string(outcome->exit_code) + " after " +
                            milliseconds_since(started);
    if (!step.outcome_counts) {
      log.write(ran + (outcome->exit_code == 0 ? "" : " (ignored)"));
      continue;
    }
    if (outcome->exit_code == 0) {
      log.write(ran);
      continue;
    }
    // Only the kept bytes are looked at; those read beyond them are counted.
    std::string stderr_text = decode_utf8_lossy(outcome->stderr_bytes);
    const auto readings = standard_error_readings(outcome->stderr_bytes, system);
    if (already_gone(step, stderr_text, readings, system)) {
      log.write(ran + ", accepted: its standard error says the change was already gone");
      continue;
    }
    const LoggedText logged = logged_standard_error(*outcome, readings);
    log.write(ran + ", not accepted; its standard error: " + list_notation({logged.text}) +
              more_bytes_text(logged.unlogged));
    return ErrorMessage{step.failure_prefix + stderr_text, outcome->stderr_dropped};
  }
  if (announce) announce_proxy_change(system, log);
  return std::nullopt;
}

}  // namespace nuv
