// The undo plan of each kind of journalled change, and the checks that keep a
// journalled value from reaching further than the change it undoes.
#include "platform/rollback/undo_plan.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/ascii.h"
#include "common/result.h"

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

// Fails with the refusal of a netsh undo one of whose positional values holds
// a named parameter: "interface", "address" or "server" says which.
Result<void, UndoStep> check_named_parameters(std::string_view launch_prefix,
                                              std::string_view interface_name,
                                              const std::vector<std::string>& values,
                                              std::string_view what) {
  std::string in_place_of;
  if (is_named_parameter(interface_name)) {
    in_place_of = "the interface";
  } else if (std::any_of(values.begin(), values.end(), is_named_parameter)) {
    in_place_of = std::string(what);
  } else {
    return {};
  }
  return unexpected(
      refused(std::string(launch_prefix), "a named parameter in place of " + in_place_of));
}

std::vector<UndoStep> plan(const TunInterfaceUp& c) {
  if (auto checked = check_named_parameters("netsh delete address: ", c.interface_name, {c.address},
                                            "the address");
      !checked) {
    return {std::move(checked.error())};
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
    if (auto checked =
            check_named_parameters("netsh set dns dhcp: ", c.interface_name, {}, "a server");
        !checked) {
      return {std::move(checked.error())};
    }
    return {counted_step("netsh", {"interface", "ip", "set", "dns", c.interface_name, "dhcp"},
                         "netsh set dns dhcp failed: ", "netsh set dns dhcp: ")};
  }
  // The further servers, whose steps are ignored, too: the whole change is refused, since a server
  // list restored without one of them is not what the client had.
  if (auto checked = check_named_parameters("netsh set dns: ", c.interface_name, c.original_servers,
                                            "a server");
      !checked) {
    return {std::move(checked.error())};
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

// What is still there when the read-back overrules a tool that answered as
// if the undo had worked.
std::string_view still_there(const TunInterfaceUp&) {
  return "the address is still on the interface";
}
std::string_view still_there(const RouteAdded&) {
  return "the route is still in the routing table";
}
std::string_view still_there(const DnsOverridden&) {
  return "the DNS servers are still not the original ones";
}
std::string_view still_there(const FirewallRuleAdded&) { return "the rule is still there"; }
std::string_view still_there(const SystemProxySet&) {
  return "the proxy settings are still not the original ones";
}
std::string_view still_there(const CustomCommand&) { return "the change is still in place"; }

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

std::string still_there_message(const SystemChange& change) {
  // The proxy's steps never count, so its message has a prefix of its own.
  std::string prefix =
      std::holds_alternative<SystemProxySet>(change) ? "proxy restore failed: " : "";
  for (const UndoStep& step : undo_plan(change)) {
    if (step.outcome_counts) {
      prefix = step.failure_prefix;
      break;
    }
  }
  return prefix + std::string(std::visit([](const auto& c) { return still_there(c); }, change));
}

}  // namespace nuv
