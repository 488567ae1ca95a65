// The journalled changes of the system and the bookkeeping record beside them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace nuv {

// Field names are those of the journal, except "interface", which Windows
// headers reserve as a macro: it is `interface_name` here.

struct TunInterfaceUp {
  std::string interface_name;
  std::string address;
  std::string netmask;
  bool operator==(const TunInterfaceUp&) const = default;
};

struct RouteAdded {
  std::string destination;
  std::optional<std::string> gateway;
  std::optional<std::string> interface_name;
  std::optional<std::uint32_t> metric;
  bool operator==(const RouteAdded&) const = default;
};

struct DnsOverridden {
  std::string interface_name;
  std::optional<std::uint32_t> interface_index;
  std::vector<std::string> original_servers;  // empty: the interface had no static servers
  bool operator==(const DnsOverridden&) const = default;
};

struct FirewallRuleAdded {
  std::string rule_name;
  bool operator==(const FirewallRuleAdded&) const = default;
};

struct SystemProxySet {
  bool original_enabled = false;
  std::optional<std::string> original_server;
  bool operator==(const SystemProxySet&) const = default;
};

struct CustomCommand {
  std::string description;
  std::vector<std::string> reverse_command;  // program first; empty: nothing to run
  bool operator==(const CustomCommand&) const = default;
};

using SystemChange = std::variant<TunInterfaceUp, RouteAdded, DnsOverridden, FirewallRuleAdded,
                                  SystemProxySet, CustomCommand>;

struct SystemStateMeta {
  std::uint32_t partial_rollback_count = 0;
  std::uint64_t last_partial_rollback_unix = 0;  // seconds since 1970; 0: never
  bool operator==(const SystemStateMeta&) const = default;
};

}  // namespace nuv
