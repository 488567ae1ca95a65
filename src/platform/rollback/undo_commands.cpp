#include "platform/rollback/undo_commands.h"

#include "common/utf.h"

namespace nuv {
namespace {

const std::string kInternetSettings =
    R"(HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings)";

UndoStep checked(std::string program, std::vector<std::string> args, std::string failure_prefix,
                 std::string launch_prefix, std::vector<std::string_view> tolerated = {},
                 std::uint32_t creation_flags = 0) {
  return UndoStep{CommandRequest{std::move(program), std::move(args), creation_flags}, true,
                  std::move(tolerated), std::move(failure_prefix), std::move(launch_prefix)};
}

UndoStep unchecked(std::string program, std::vector<std::string> args) {
  return UndoStep{CommandRequest{std::move(program), std::move(args), 0}, false, {}, {}, {}};
}

std::vector<UndoStep> plan(const TunInterfaceUp& c) {
  return {checked("netsh", {"interface", "ip", "delete", "address", c.interface_name, c.address},
                  "netsh delete address failed: ", "netsh delete address: ",
                  {"not found", "The filename, directory name"})};
}

std::vector<UndoStep> plan(const RouteAdded& c) {
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
    // A single quote inside a single-quoted PowerShell string is written twice.
    for (const char ch : servers[i]) {
      script += ch;
      if (ch == '\'') script += '\'';
    }
    script += '\'';
  }
  return script + ") -ErrorAction Stop";
}

std::vector<UndoStep> undo_plan(const SystemChange& change) {
  return std::visit([](const auto& c) { return plan(c); }, change);
}

std::optional<std::string> undo_change(const SystemChange& change, const CommandRunner& run) {
  for (const UndoStep& step : undo_plan(change)) {
    auto outcome = run(step.request);
    if (!step.checked) continue;
    if (!outcome) return step.launch_prefix + outcome.error().text;
    if (outcome->exit_code == 0) continue;
    // Only the kept bytes are looked at; those read beyond them are counted.
    std::string stderr_text = decode_utf8_lossy(outcome->stderr_bytes);
    bool tolerated = false;
    for (const auto& text : step.tolerated) {
      tolerated = tolerated || stderr_text.find(text) != std::string::npos;
    }
    if (!tolerated) {
      if (outcome->stderr_dropped > 0) {
        stderr_text += " [" + std::to_string(outcome->stderr_dropped) + " more bytes]";
      }
      return step.failure_prefix + stderr_text;
    }
  }
  return std::nullopt;
}

}  // namespace nuv
