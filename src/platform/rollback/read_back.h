// Reading a journalled change back from the system after its undo, so that
// the verdict is the machine's own and not only what a tool printed. The
// decisions are portable; the tables and values they rest on come from a
// ReadBackSystem, which read_back_win.cpp fills with native calls.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/rollback/ip_address.h"
#include "state/system_change.h"

namespace nuv {

// What reading a change back found.
enum class ChangeState {
  kInPlace,    // the change is still on the machine
  kGone,       // it is not: undone, or gone with its interface
  kCannotTell  // the system's answer does not say; `facts` says why
};

struct ReadBack {
  ChangeState state = ChangeState::kCannotTell;
  // What was read, for the log ("route 0.0.0.0/1 via 10.8.0.1 on interface 7, metric 5"),
  // or, for kCannotTell, why it cannot tell. Empty for a kind that is never read back.
  std::string facts;
  bool operator==(const ReadBack&) const = default;
};

// One row of each system table the read-back scans.
struct InterfaceRow {
  std::uint32_t index = 0;
  std::string alias;  // UTF-8
  std::string guid;   // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", upper case, for the registry
  bool operator==(const InterfaceRow&) const = default;
};
struct AddressRow {
  std::uint32_t interface_index = 0;
  IpAddress address;
};
struct RouteRow {
  IpAddress destination;
  std::uint8_t prefix_length = 0;
  IpAddress next_hop;  // all zeros: on-link
  std::uint32_t interface_index = 0;
  std::uint32_t metric = 0;
};

// An interface's statically configured DNS servers, per family, as the
// system holds them: the text of its NameServer value (servers separated by
// commas or spaces); empty when the value is missing or empty.
struct DnsServerTexts {
  std::string v4;
  std::string v6;
};

// The user's Internet Settings values.
struct ProxyValues {
  enum class Enable : std::uint8_t { kMissing, kDword, kOtherType };
  Enable enable_kind = Enable::kMissing;
  std::uint32_t enable = 0;           // when kDword
  std::optional<std::string> server;  // absent when missing; a value not REG_SZ is an error
};

// What the read-back asks of the system. Each call fails with the system's
// words for an unexpected answer, which then reads as "cannot tell". A member
// left unset reads as "cannot tell" too.
struct ReadBackSystem {
  // The interface whose alias equals `alias` compared case-insensitively, as
  // netsh compares; absent when the whole table was read and none has it.
  std::function<Result<std::optional<InterfaceRow>, std::string>(const std::string& alias)>
      interface_by_alias;
  // The interface with that index; absent when the whole table was read and
  // none has it.
  std::function<Result<std::optional<InterfaceRow>, std::string>(std::uint32_t index)>
      interface_by_index;
  // The unicast address table, both families.
  std::function<Result<std::vector<AddressRow>, std::string>()> unicast_addresses;
  // The forwarding table, both families.
  std::function<Result<std::vector<RouteRow>, std::string>()> routes;
  // The interface's static DNS servers.
  std::function<Result<DnsServerTexts, std::string>(const InterfaceRow&)> dns_servers;
  // Whether a firewall rule of that name exists: true found, false the
  // system's "not found"; any other answer, or none within its time, fails.
  std::function<Result<bool, std::string>(const std::string& rule_name)> firewall_rule_exists;
  std::function<Result<ProxyValues, std::string>()> proxy;
};

// Reads the change back. A CustomCommand is never read back: kCannotTell
// with empty facts.
ReadBack read_back_change(const SystemChange& change, const ReadBackSystem& system);

// "in place", "already gone", "cannot tell: <why>": a state as the plan and
// the log show it.
std::string change_state_text(const ReadBack& read_back);

}  // namespace nuv
