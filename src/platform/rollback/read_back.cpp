// The read-back's decisions: which rows of the system's tables stand for a
// journalled change, and when their answer does not say.
#include "platform/rollback/read_back.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/list_notation.h"

namespace nuv {
namespace {

constexpr std::string_view kNoInterfaceTable = "the interface table cannot be read";

ReadBack in_place(std::string facts) { return {ChangeState::kInPlace, std::move(facts)}; }
ReadBack gone(std::string facts) { return {ChangeState::kGone, std::move(facts)}; }
ReadBack cannot_tell(std::string why) { return {ChangeState::kCannotTell, std::move(why)}; }

// A journal's or the system's text in the log, between double quotes and
// escaped so that it can neither break the line nor hide itself.
std::string quoted(std::string_view text) {
  std::string out;
  append_list_item(out, text);
  return out;
}

std::string not_an_address(std::string_view what, std::string_view text) {
  return std::string(what) + ' ' + quoted(text) + " is not an IP address";
}

// netsh takes a name of digits alone as an interface index, so such a name
// may not be the alias that the lookup would find.
bool is_digits_only(std::string_view name) {
  return !name.empty() &&
         std::all_of(name.begin(), name.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

// An empty name says nothing about which interface the tool reached.
std::optional<ReadBack> unusable_alias(std::string_view name) {
  if (name.empty()) return cannot_tell("the interface name is empty");
  if (is_digits_only(name)) {
    return cannot_tell("interface name " + quoted(name) +
                       " is all digits: netsh takes it as an index");
  }
  return std::nullopt;
}

std::string interface_text(const InterfaceRow& row) {
  return "interface " + quoted(row.alias) + " (index " + std::to_string(row.index) + ")";
}

ReadBack read(const TunInterfaceUp& change, const ReadBackSystem& system) {
  const auto address = parse_ip_address(change.address);
  if (!address) return cannot_tell(not_an_address("address", change.address));
  if (auto unusable = unusable_alias(change.interface_name)) return std::move(*unusable);
  if (!system.interface_by_alias) return cannot_tell(std::string(kNoInterfaceTable));
  const auto found = system.interface_by_alias(change.interface_name);
  if (!found) return cannot_tell(found.error());
  if (!*found) {
    return gone("no interface named " + quoted(change.interface_name) +
                ": the address went with it");
  }
  const InterfaceRow& row = **found;
  if (!system.unicast_addresses) return cannot_tell("the address table cannot be read");
  const auto rows = system.unicast_addresses();
  if (!rows) return cannot_tell(rows.error());
  const std::string what = "address " + ip_address_text(*address);
  const bool there = std::any_of(rows->begin(), rows->end(), [&](const AddressRow& r) {
    return r.interface_index == row.index && r.address == *address;
  });
  if (there) return in_place(what + " is on " + interface_text(row));
  return gone(what + " is not on " + interface_text(row));
}

std::string next_hop_text(const IpAddress& next_hop) {
  const bool on_link =
      std::all_of(next_hop.bytes.begin(), next_hop.bytes.end(), [](auto b) { return b == 0; });
  return on_link ? std::string("on-link") : "via " + ip_address_text(next_hop);
}

ReadBack read(const RouteAdded& change, const ReadBackSystem& system) {
  const auto destination = parse_destination(change.destination);
  if (!destination) return cannot_tell(not_an_address("destination", change.destination));
  std::optional<IpAddress> gateway;
  if (change.gateway) {
    gateway = parse_ip_address(*change.gateway);
    if (!gateway) return cannot_tell(not_an_address("gateway", *change.gateway));
  }
  if (!system.routes) return cannot_tell("the routing table cannot be read");
  const auto rows = system.routes();
  if (!rows) return cannot_tell(rows.error());

  const IpAddress& address = destination->address;
  // The table holds masked destinations. Without a length, route deletes the
  // route whose destination is the address itself, whatever its length.
  // Addresses compare their family too: a row of the other family never
  // matches, all-zero bytes alike.
  const auto has_destination = [&](const RouteRow& row) {
    if (!destination->prefix_length) return row.destination == address;
    return row.prefix_length == *destination->prefix_length &&
           row.destination == masked(address, *destination->prefix_length);
  };
  std::string route = "route " + ip_address_text(address);
  if (destination->prefix_length) route += '/' + std::to_string(*destination->prefix_length);
  const std::string via = gateway ? " via " + ip_address_text(*gateway) : std::string();
  const std::string what = route + via;

  std::vector<const RouteRow*> others;
  for (const RouteRow& row : *rows) {
    if (!has_destination(row)) continue;
    if (!gateway || row.next_hop == *gateway) {
      return in_place(what + " is in the routing table: interface " +
                      std::to_string(row.interface_index) + ", metric " +
                      std::to_string(row.metric));
    }
    others.push_back(&row);
  }
  if (others.empty()) return gone(what + " is not in the routing table");
  // Windows keeps a route whose gateway is the interface's own address as
  // on-link, so a row with another next hop may still be this one.
  std::string seen;
  for (const RouteRow* row : others) {
    if (!seen.empty()) seen += ", ";
    seen += next_hop_text(row->next_hop) + " on interface " + std::to_string(row->interface_index);
  }
  return cannot_tell(route + " is in the routing table, but not" + via + ": " + seen);
}

std::string servers_text(const std::vector<IpAddress>& servers) {
  if (servers.empty()) return "none";
  std::string text;
  for (const IpAddress& server : servers) {
    if (!text.empty()) text += ", ";
    text += ip_address_text(server);
  }
  return text;
}

// The servers of a NameServer value: separated by commas or spaces, in order.
Result<std::vector<IpAddress>, std::string> parse_name_servers(std::string_view text) {
  std::vector<IpAddress> servers;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find_first_of(", ", start), text.size());
    const std::string_view piece = text.substr(start, end - start);
    if (!piece.empty()) {
      const auto server = parse_ip_address(piece);
      if (!server) return unexpected(not_an_address("the system's DNS server", piece));
      servers.push_back(*server);
    }
    start = end + 1;
  }
  return servers;
}

Result<InterfaceRow, std::string> dns_interface(const DnsOverridden& change,
                                                const ReadBackSystem& system) {
  Result<std::optional<InterfaceRow>, std::string> found = std::optional<InterfaceRow>{};
  std::string which;
  if (change.interface_index) {
    if (!system.interface_by_index) return unexpected(std::string(kNoInterfaceTable));
    which = "index " + std::to_string(*change.interface_index);
    found = system.interface_by_index(*change.interface_index);
  } else {
    if (auto unusable = unusable_alias(change.interface_name)) {
      return unexpected(std::move(unusable->facts));
    }
    if (!system.interface_by_alias) return unexpected(std::string(kNoInterfaceTable));
    which = quoted(change.interface_name);
    found = system.interface_by_alias(change.interface_name);
  }
  if (!found) return unexpected(std::move(found.error()));
  if (!*found) return unexpected("no such interface: " + which);
  return std::move(**found);
}

ReadBack read(const DnsOverridden& change, const ReadBackSystem& system) {
  // The originals first: a journal value that cannot be compared makes the
  // system's tables pointless to read.
  std::vector<IpAddress> original_v4;
  std::vector<IpAddress> original_v6;
  for (const std::string& text : change.original_servers) {
    const auto server = parse_ip_address(text);
    if (!server) return cannot_tell(not_an_address("original DNS server", text));
    (server->family == IpAddress::Family::kV4 ? original_v4 : original_v6).push_back(*server);
  }
  const auto row = dns_interface(change, system);
  if (!row) return cannot_tell(row.error());
  if (!system.dns_servers) return cannot_tell("the DNS servers cannot be read");
  const auto texts = system.dns_servers(*row);
  if (!texts) return cannot_tell(texts.error());
  const auto v4 = parse_name_servers(texts->v4);
  if (!v4) return cannot_tell(v4.error());
  const auto v6 = parse_name_servers(texts->v6);
  if (!v6) return cannot_tell(v6.error());

  std::vector<IpAddress> now = *v4;
  now.insert(now.end(), v6->begin(), v6->end());
  std::vector<IpAddress> original = original_v4;
  original.insert(original.end(), original_v6.begin(), original_v6.end());
  const std::string what = interface_text(*row) + " has DNS servers " + servers_text(now);
  if (*v4 == original_v4 && *v6 == original_v6) return gone(what + ", the original ones");
  return in_place(what + ", not the original ones: " + servers_text(original));
}

ReadBack read(const FirewallRuleAdded& change, const ReadBackSystem& system) {
  if (!system.firewall_rule_exists) return cannot_tell("the firewall rules cannot be read");
  const auto exists = system.firewall_rule_exists(change.rule_name);
  if (!exists) return cannot_tell(exists.error());
  if (*exists) return in_place("firewall rule " + quoted(change.rule_name) + " exists");
  return gone("no firewall rule named " + quoted(change.rule_name));
}

std::string proxy_text(bool enabled, const std::optional<std::string>& server) {
  return std::string(enabled ? "proxy enabled" : "proxy disabled") +
         (server ? ", server " + quoted(*server) : std::string(", no server"));
}

ReadBack read(const SystemProxySet& change, const ReadBackSystem& system) {
  if (!system.proxy) return cannot_tell("the proxy settings cannot be read");
  const auto values = system.proxy();
  if (!values) return cannot_tell(values.error());
  if (values->enable_kind == ProxyValues::Enable::kOtherType) {
    return cannot_tell("ProxyEnable is not a DWORD");
  }
  // A missing ProxyEnable reads as 0, as WinINet reads it.
  const bool enabled = values->enable_kind == ProxyValues::Enable::kDword && values->enable != 0;
  const bool restored = enabled == change.original_enabled &&
                        (!change.original_server || values->server == change.original_server);
  const std::string what = proxy_text(enabled, values->server);
  if (restored) return gone(what + ", the original settings");
  std::string original = change.original_enabled ? "proxy enabled" : "proxy disabled";
  if (change.original_server) original += ", server " + quoted(*change.original_server);
  return in_place(what + ", not the original settings: " + original);
}

// Running a journalled command again says nothing about what it did; its
// facts stay empty so that a journal of many such commands logs no line each.
ReadBack read(const CustomCommand&, const ReadBackSystem&) { return {}; }

}  // namespace

ReadBack read_back_change(const SystemChange& change, const ReadBackSystem& system) {
  return std::visit([&system](const auto& c) { return read(c, system); }, change);
}

std::string change_state_text(const ReadBack& read_back) {
  switch (read_back.state) {
    case ChangeState::kInPlace:
      return "in place";
    case ChangeState::kGone:
      return "already gone";
    case ChangeState::kCannotTell:
      break;
  }
  return read_back.facts.empty() ? "cannot tell" : "cannot tell: " + read_back.facts;
}

}  // namespace nuv
