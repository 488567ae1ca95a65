#include "platform/rollback/undo_commands.h"

#include <chrono>
#include <cstdint>
#include <utility>
#include <variant>

#include "common/list_notation.h"
#include "common/utf.h"

namespace nuv {
namespace {

const std::string kInternetSettings =
    R"(HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings)";

UndoStep checked(std::string program, std::vector<std::string> args, std::string failure_prefix,
                 std::string launch_prefix, std::vector<std::string_view> tolerated = {},
                 std::uint32_t creation_flags = 0) {
  return UndoStep{CommandRequest{std::move(program), std::move(args), creation_flags},
                  true,
                  std::move(tolerated),
                  std::move(failure_prefix),
                  std::move(launch_prefix),
                  std::nullopt};
}

UndoStep unchecked(std::string program, std::vector<std::string> args) {
  return UndoStep{
      CommandRequest{std::move(program), std::move(args), 0}, false, {}, {}, {}, std::nullopt};
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

char ascii_lower(char ch) {
  return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
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
  constexpr std::string_view kAll = "all";
  if (name.size() != kAll.size()) return false;
  for (std::size_t i = 0; i < kAll.size(); ++i) {
    if (ascii_lower(name[i]) != kAll[i]) return false;
  }
  return true;
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

std::vector<UndoStep> plan(const TunInterfaceUp& c) {
  // netsh reads "tag=value" as a named parameter wherever it stands: an
  // address such as "gateway=all" would delete every gateway of the
  // interface instead of the one address that was added.
  if (c.address.find('=') != std::string::npos) {
    return {refused("netsh delete address: ", "a named parameter in place of the address")};
  }
  return {checked("netsh", {"interface", "ip", "delete", "address", c.interface_name, c.address},
                  "netsh delete address failed: ", "netsh delete address: ",
                  {"not found", "The filename, directory name"})};
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
  return {checked("route", std::move(args),
                  "route delete failed: ", "route delete: ", {"not found", "not in table"})};
}

std::vector<UndoStep> plan(const DnsOverridden& c) {
  if (c.interface_index) {
    return {checked("powershell",
                    {"-NoProfile", "-NonInteractive", "-WindowStyle", "Hidden", "-Command",
                     dns_restore_script(*c.interface_index, c.original_servers)},
                    "PowerShell DNS rollback failed: ", "powershell dns rollback: ", {},
                    kCreateNoWindow)};
  }
  if (c.original_servers.empty()) {
    return {checked("netsh", {"interface", "ip", "set", "dns", c.interface_name, "dhcp"},
                    "netsh set dns dhcp failed: ", "netsh set dns dhcp: ")};
  }
  std::vector<UndoStep> steps{checked(
      "netsh", {"interface", "ip", "set", "dns", c.interface_name, "static", c.original_servers[0]},
      "netsh set dns failed: ", "netsh set dns: ")};
  for (std::size_t i = 1; i < c.original_servers.size(); ++i) {
    steps.push_back(unchecked(
        "netsh", {"interface", "ip", "add", "dns", c.interface_name, c.original_servers[i]}));
  }
  return steps;
}

std::vector<UndoStep> plan(const FirewallRuleAdded& c) {
  if (names_every_rule(c.rule_name)) {
    return {refused("netsh delete rule: ", "the name all stands for every rule")};
  }
  return {checked("netsh", {"advfirewall", "firewall", "delete", "rule", "name=" + c.rule_name},
                  "delete firewall rule failed: ", "netsh delete rule: ", {"No rules"})};
}

std::vector<UndoStep> plan(const SystemProxySet& c) {
  std::vector<UndoStep> steps{
      unchecked("reg", {"add", kInternetSettings, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d",
                        c.original_enabled ? "1" : "0", "/f"})};
  if (c.original_server) {
    steps.push_back(unchecked("reg", {"add", kInternetSettings, "/v", "ProxyServer", "/t", "REG_SZ",
                                      "/d", *c.original_server, "/f"}));
  }
  return steps;
}

std::vector<UndoStep> plan(const CustomCommand& c) {
  if (c.reverse_command.empty()) return {};
  return {checked(c.reverse_command.front(),
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

// What follows a text that was cut short: how many bytes were left out.
std::string more_bytes(std::uint64_t count) {
  return count == 0 ? std::string() : " [" + std::to_string(count) + " more bytes]";
}

// A journal's arguments can be long; the log keeps their start.
std::string clipped(std::string text) {
  if (text.size() <= kLoggedArgumentBytes) return text;
  const std::size_t dropped = text.size() - kLoggedArgumentBytes;
  text.resize(kLoggedArgumentBytes);
  return decode_utf8_lossy(text) + more_bytes(dropped);
}

std::string milliseconds_since(std::chrono::steady_clock::time_point start) {
  return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count()) +
         " ms";
}

}  // namespace

std::optional<std::string> undo_change(const SystemChange& change, const CommandRunner& run) {
  NullLog none;
  return undo_change(change, run, none);
}

std::optional<std::string> undo_change(const SystemChange& change, const CommandRunner& run,
                                       Log& log) {
  for (const UndoStep& step : undo_plan(change)) {
    if (step.refusal) {
      log.write("undo not run: " + step.launch_prefix + *step.refusal);
      return step.launch_prefix + *step.refusal;
    }
    const auto started = std::chrono::steady_clock::now();
    auto outcome = run(step.request);
    const std::string args = clipped(list_notation(step.request.args));
    if (!outcome) {
      log.write("could not run " + shown_program(step, outcome.error().program_path) + " " + args +
                ": " + outcome.error().text + (step.checked ? "" : " (ignored)"));
      if (!step.checked) continue;
      return step.launch_prefix + outcome.error().text;
    }
    const std::string ran = "ran " + shown_program(step, outcome->program_path) + " " + args +
                            ": exit code " + std::to_string(outcome->exit_code) + " after " +
                            milliseconds_since(started);
    if (!step.checked) {
      log.write(ran + (outcome->exit_code == 0 ? "" : " (ignored)"));
      continue;
    }
    if (outcome->exit_code == 0) {
      log.write(ran);
      continue;
    }
    // Only the kept bytes are looked at; those read beyond them are counted.
    std::string stderr_text = decode_utf8_lossy(outcome->stderr_bytes);
    bool tolerated = false;
    for (const auto& text : step.tolerated) {
      tolerated = tolerated || stderr_text.find(text) != std::string::npos;
    }
    if (tolerated) {
      log.write(ran + ", accepted: its standard error says the change was already gone");
      continue;
    }
    const std::uint64_t unlogged =
        outcome->stderr_bytes.size() > kLoggedStandardErrorBytes
            ? outcome->stderr_bytes.size() - kLoggedStandardErrorBytes + outcome->stderr_dropped
            : outcome->stderr_dropped;
    log.write(ran + ", not accepted; its standard error: " +
              list_notation({decode_utf8_lossy(
                  std::string_view(outcome->stderr_bytes).substr(0, kLoggedStandardErrorBytes))}) +
              more_bytes(unlogged));
    stderr_text += more_bytes(outcome->stderr_dropped);
    return step.failure_prefix + stderr_text;
  }
  return std::nullopt;
}

}  // namespace nuv
