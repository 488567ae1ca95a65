#include "platform/rollback/read_back.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/ip_text.h"

namespace nuv {
namespace {

using test::ip;

RouteRow route_row(const std::string& destination, std::uint8_t length, const std::string& next_hop,
                   std::uint32_t interface_index = 7, std::uint32_t metric = 5) {
  return RouteRow{ip(destination), length, ip(next_hop), interface_index, metric};
}

// The system's tables as a test sets them; a call named in `failing` fails
// with "<name> failed", and one named in `unset` is left out.
struct Tables {
  std::vector<InterfaceRow> interfaces{
      {7, "utun-nuv", "{G7}"}, {12, "Wi-Fi", "{G12}"}, {3, "Ethernet", "{G3}"}};
  std::vector<AddressRow> addresses;
  std::vector<RouteRow> routes;
  std::map<std::uint32_t, DnsServerTexts> dns;
  std::set<std::string> rules;
  ProxyValues proxy;
  std::set<std::string> failing;
  std::set<std::string> unset;

  template <class T>
  Result<T, std::string> answer(const std::string& call, T value) const {
    if (failing.contains(call)) return unexpected(call + " failed");
    return value;
  }
  [[nodiscard]] std::optional<InterfaceRow> find(auto matches) const {
    for (const auto& row : interfaces) {
      if (matches(row)) return row;
    }
    return std::nullopt;
  }

  [[nodiscard]] ReadBackSystem system() const {
    ReadBackSystem s;
    s.interface_by_alias = [this](const std::string& alias) {
      return answer("by alias", find([&](const InterfaceRow& r) { return r.alias == alias; }));
    };
    s.interface_by_index = [this](std::uint32_t index) {
      return answer("by index", find([&](const InterfaceRow& r) { return r.index == index; }));
    };
    s.unicast_addresses = [this] { return answer("addresses", addresses); };
    s.routes = [this] { return answer("routes", routes); };
    s.dns_servers = [this](const InterfaceRow& row) {
      const auto it = dns.find(row.index);
      return answer("dns", it == dns.end() ? DnsServerTexts{} : it->second);
    };
    s.firewall_rule_exists = [this](const std::string& name) {
      return answer("firewall", rules.contains(name));
    };
    s.proxy = [this] { return answer("proxy", proxy); };
    if (unset.contains("by alias")) s.interface_by_alias = nullptr;
    if (unset.contains("addresses")) s.unicast_addresses = nullptr;
    return s;
  }
  [[nodiscard]] ReadBack read(const SystemChange& change) const {
    return read_back_change(change, system());
  }
};

constexpr auto kInPlace = ChangeState::kInPlace;
constexpr auto kGone = ChangeState::kGone;
constexpr auto kCannotTell = ChangeState::kCannotTell;

TEST(ReadBack, RouteAddedIsFoundByDestinationLengthAndGateway) {
  struct Case {
    RouteAdded route;
    std::vector<RouteRow> rows;
    ReadBack expected;
  };
  const auto route = [](std::string destination, std::optional<std::string> gateway = {}) {
    return RouteAdded{std::move(destination), std::move(gateway), "utun-nuv", 5u};
  };
  const std::vector<Case> cases{
      {route("0.0.0.0/1"),
       {route_row("0.0.0.0", 1, "10.8.0.1")},
       {kInPlace, "route 0.0.0.0/1 is in the routing table: interface 7, metric 5"}},
      {route("0.0.0.0/1", "10.8.0.1"),
       {route_row("0.0.0.0", 1, "0.0.0.0", 9, 1), route_row("0.0.0.0", 1, "10.8.0.1", 7, 25)},
       {kInPlace, "route 0.0.0.0/1 via 10.8.0.1 is in the routing table: interface 7, metric 25"}},
      {route("10.1.2.3/8"),
       {route_row("10.0.0.0", 8, "0.0.0.0")},
       {kInPlace, "route 10.1.2.3/8 is in the routing table: interface 7, metric 5"}},
      {route("10.0.0.0/8"),
       {route_row("10.0.0.0", 16, "0.0.0.0"), route_row("11.0.0.0", 8, "0.0.0.0")},
       {kGone, "route 10.0.0.0/8 is not in the routing table"}},
      {route("10.0.0.0/8", "10.8.0.1"),
       {},
       {kGone, "route 10.0.0.0/8 via 10.8.0.1 is not in the routing table"}},
      // Without a length: the route whose destination is the address itself.
      {route("10.0.0.5"),
       {route_row("10.0.0.5", 32, "10.8.0.1")},
       {kInPlace, "route 10.0.0.5 is in the routing table: interface 7, metric 5"}},
      {route("10.0.0.0"), {route_row("10.0.0.0", 8, "10.8.0.1")}, {kInPlace, ""}},
      {route("10.0.0.5"),
       {route_row("10.0.0.0", 8, "10.8.0.1")},
       {kGone, "route 10.0.0.5 is not in the routing table"}},
      // Another next hop, or on-link as Windows keeps a route via the
      // interface's own address: it may be the record's route.
      {route("0.0.0.0/1", "10.8.0.1"),
       {route_row("0.0.0.0", 1, "10.8.0.9", 4)},
       {kCannotTell,
        "route 0.0.0.0/1 is in the routing table, but not via 10.8.0.1: via 10.8.0.9 "
        "on interface 4"}},
      {route("0.0.0.0/1", "10.8.0.2"),
       {route_row("0.0.0.0", 1, "0.0.0.0"), route_row("0.0.0.0", 1, "10.8.0.1", 8)},
       {kCannotTell,
        "route 0.0.0.0/1 is in the routing table, but not via 10.8.0.2: on-link on "
        "interface 7, via 10.8.0.1 on interface 8"}},
      // Rows of the other family never stand for the record, zero bytes alike.
      {route("0.0.0.0/1"), {route_row("::", 1, "::")}, {kGone, ""}},
      {route("0.0.0.0", "0.0.0.0"), {route_row("::", 0, "::")}, {kGone, ""}},
      {route("::/0", "fd00::1"),
       {route_row("0.0.0.0", 0, "0.0.0.0"), route_row("::", 0, "fd00::1", 3, 2)},
       {kInPlace, "route ::/0 via fd00::1 is in the routing table: interface 3, metric 2"}},
      {route("10.0.0.0/33"),
       {route_row("10.0.0.0", 8, "0.0.0.0")},
       {kCannotTell, R"(destination "10.0.0.0/33" is not an IP address)"}},
      {route("010.0.0.0/8"), {route_row("10.0.0.0", 8, "0.0.0.0")}, {kCannotTell, ""}},
      {route("10.0.0.0/8", "gateway.example"),
       {route_row("10.0.0.0", 8, "0.0.0.0")},
       {kCannotTell, R"(gateway "gateway.example" is not an IP address)"}},
  };
  for (const auto& c : cases) {
    Tables tables;
    tables.routes = c.rows;
    const ReadBack found = tables.read(c.route);
    EXPECT_EQ(found.state, c.expected.state) << c.route.destination;
    if (!c.expected.facts.empty()) {
      EXPECT_EQ(found.facts, c.expected.facts);
    }
    EXPECT_FALSE(found.facts.empty()) << c.route.destination;
  }
  Tables failing;
  failing.failing = {"routes"};
  EXPECT_EQ(failing.read(RouteAdded{"0.0.0.0/1", {}, {}, {}}),
            (ReadBack{kCannotTell, "routes failed"}));
}

TEST(ReadBack, TunInterfaceUpLooksForTheAddressOnItsInterface) {
  struct Case {
    TunInterfaceUp change;
    std::vector<AddressRow> rows;
    std::set<std::string> failing;
    ReadBack expected;
  };
  const std::vector<Case> cases{
      {{"utun-nuv", "10.8.0.2", "255.255.255.0"},
       {{3, ip("10.8.0.2")}, {7, ip("10.8.0.2")}},
       {},
       {kInPlace, R"(address 10.8.0.2 is on interface "utun-nuv" (index 7))"}},
      {{"utun-nuv", "fd00::2", "64"}, {{7, ip("fd00::2")}}, {}, {kInPlace, ""}},
      {{"utun-nuv", "10.8.0.2", "m"},
       {{3, ip("10.8.0.2")}, {7, ip("10.8.0.3")}},
       {},
       {kGone, R"(address 10.8.0.2 is not on interface "utun-nuv" (index 7))"}},
      {{"utun-nuv", "10.8.0.2", "m"}, {}, {"addresses"}, {kCannotTell, "addresses failed"}},
      {{"wintun-gone", "10.8.0.2", "m"},
       {{7, ip("10.8.0.2")}},
       {},
       {kGone, R"(no interface named "wintun-gone": the address went with it)"}},
      {{"utun-nuv", "10.8.0.2", "m"}, {}, {"by alias"}, {kCannotTell, "by alias failed"}},
      {{"7", "10.8.0.2", "m"},
       {{7, ip("10.8.0.2")}},
       {},
       {kCannotTell, R"(interface name "7" is all digits: netsh takes it as an index)"}},
      {{"", "10.8.0.2", "m"}, {}, {}, {kCannotTell, "the interface name is empty"}},
      {{"utun-nuv", "10.8.0.02", "m"},
       {{7, ip("10.8.0.2")}},
       {},
       {kCannotTell, R"(address "10.8.0.02" is not an IP address)"}},
  };
  for (const auto& c : cases) {
    Tables tables;
    tables.addresses = c.rows;
    tables.failing = c.failing;
    const ReadBack found = tables.read(c.change);
    EXPECT_EQ(found.state, c.expected.state) << c.change.interface_name << ' ' << c.change.address;
    if (!c.expected.facts.empty()) {
      EXPECT_EQ(found.facts, c.expected.facts);
    }
  }
}

TEST(ReadBack, DnsOverriddenComparesEachFamilysServersInOrder) {
  struct Case {
    const char* what;
    DnsOverridden change;
    DnsServerTexts system;  // of interface 12
    ChangeState expected;
  };
  const auto wifi = [](std::vector<std::string> servers) {
    return DnsOverridden{"Wi-Fi", 12u, std::move(servers)};
  };
  const std::vector<Case> cases{
      {"same", wifi({"1.1.1.1", "8.8.8.8"}), {"1.1.1.1,8.8.8.8", ""}, kGone},
      {"spaces", wifi({"1.1.1.1", "8.8.8.8"}), {"1.1.1.1 8.8.8.8", ""}, kGone},
      {"empty pieces", wifi({"1.1.1.1", "8.8.8.8"}), {",1.1.1.1, ,8.8.8.8 ", ""}, kGone},
      {"order matters", wifi({"1.1.1.1", "8.8.8.8"}), {"8.8.8.8,1.1.1.1", ""}, kInPlace},
      {"one more", wifi({"1.1.1.1"}), {"1.1.1.1,10.8.0.1", ""}, kInPlace},
      {"one fewer", wifi({"1.1.1.1", "8.8.8.8"}), {"1.1.1.1", ""}, kInPlace},
      {"the client's", wifi({"1.1.1.1"}), {"10.8.0.1", ""}, kInPlace},
      {"per family", wifi({"fd00::53", "1.1.1.1"}), {"1.1.1.1", "fd00::53"}, kGone},
      {"v6 left", wifi({"1.1.1.1"}), {"1.1.1.1", "fd00::53"}, kInPlace},
      {"v6 missing", wifi({"1.1.1.1", "fd00::53"}), {"1.1.1.1", ""}, kInPlace},
      {"v6 in v4 value", wifi({"fd00::53"}), {"fd00::53", ""}, kInPlace},
      {"v6 text case", wifi({"FD00::53"}), {"", "fd00:0::53"}, kGone},
      {"none, none", wifi({}), {"", ""}, kGone},
      {"none, some", wifi({}), {"10.8.0.1", ""}, kInPlace},
      {"some, none", wifi({"1.1.1.1"}), {"", ""}, kInPlace},
      {"system unparsable", wifi({"1.1.1.1"}), {"1.1.1.1;8.8.8.8", ""}, kCannotTell},
      {"system host name", wifi({}), {"", "dns.example"}, kCannotTell},
      {"original unparsable", wifi({"01.1.1.1"}), {"1.1.1.1", ""}, kCannotTell},
      {"original zone", wifi({"fe80::1%7"}), {"", "fe80::1"}, kCannotTell},
      // Without an index, by alias: the same interface here.
      {"by alias", DnsOverridden{"Wi-Fi", std::nullopt, {"1.1.1.1"}}, {"1.1.1.1", ""}, kGone},
      {"by alias, digits",
       DnsOverridden{"12", std::nullopt, {"1.1.1.1"}},
       {"1.1.1.1", ""},
       kCannotTell},
      {"by alias, absent", DnsOverridden{"Wi-Fi 2", std::nullopt, {}}, {}, kCannotTell},
      // An index wins over the alias: interface 3 has no servers.
      {"by index", DnsOverridden{"Wi-Fi", 3u, {"1.1.1.1"}}, {"1.1.1.1", ""}, kInPlace},
      {"index absent", DnsOverridden{"Wi-Fi", 99u, {}}, {}, kCannotTell},
  };
  for (const auto& c : cases) {
    Tables tables;
    tables.dns[12] = c.system;
    EXPECT_EQ(tables.read(c.change).state, c.expected) << c.what;
  }
  Tables tables;
  tables.dns[12] = {"1.1.1.1", "fd00::53"};
  EXPECT_EQ(tables.read(DnsOverridden{"x", 12u, {"1.1.1.1", "fd00::53"}}).facts,
            R"(interface "Wi-Fi" (index 12) has DNS servers 1.1.1.1, fd00::53, the original ones)");
  EXPECT_EQ(tables.read(DnsOverridden{"x", 12u, {}}).facts,
            R"(interface "Wi-Fi" (index 12) has DNS servers 1.1.1.1, fd00::53, not the original )"
            "ones: none");
  EXPECT_EQ(tables.read(DnsOverridden{"x", 99u, {}}).facts, "no such interface: index 99");
  for (const char* call : {"by index", "dns"}) {
    tables.failing = {call};
    EXPECT_EQ(tables.read(DnsOverridden{"x", 12u, {}}),
              (ReadBack{kCannotTell, std::string(call) + " failed"}));
  }
  tables.failing = {"by alias"};
  EXPECT_EQ(tables.read(DnsOverridden{"Wi-Fi", std::nullopt, {}}).state, kCannotTell);
}

TEST(ReadBack, SystemProxySetComparesEnableAndTheOriginalServer) {
  struct Case {
    const char* what;
    ProxyValues values;
    SystemProxySet change;
    ChangeState expected;
  };
  using Enable = ProxyValues::Enable;
  const std::vector<Case> cases{
      {"restored", {Enable::kDword, 1, "p:8080"}, {true, "p:8080"}, kGone},
      {"off", {Enable::kDword, 0, std::nullopt}, {false, std::nullopt}, kGone},
      {"any non-zero is on", {Enable::kDword, 2, std::nullopt}, {true, std::nullopt}, kGone},
      {"missing is 0", {Enable::kMissing, 0, std::nullopt}, {false, std::nullopt}, kGone},
      {"missing is not on", {Enable::kMissing, 1, std::nullopt}, {true, std::nullopt}, kInPlace},
      {"still on", {Enable::kDword, 1, std::nullopt}, {false, std::nullopt}, kInPlace},
      {"other type", {Enable::kOtherType, 0, std::nullopt}, {false, std::nullopt}, kCannotTell},
      {"server missing", {Enable::kDword, 1, std::nullopt}, {true, "p:8080"}, kInPlace},
      {"server other", {Enable::kDword, 1, "p:8081"}, {true, "p:8080"}, kInPlace},
      {"server case", {Enable::kDword, 1, "P:8080"}, {true, "p:8080"}, kInPlace},
      {"server empty", {Enable::kDword, 1, ""}, {true, "p:8080"}, kInPlace},
      {"no original server", {Enable::kDword, 0, "10.8.0.1:3128"}, {false, std::nullopt}, kGone},
  };
  for (const auto& c : cases) {
    Tables tables;
    tables.proxy = c.values;
    EXPECT_EQ(tables.read(c.change).state, c.expected) << c.what;
  }
  Tables tables;
  tables.proxy = {Enable::kDword, 1, "10.8.0.1:3128"};
  EXPECT_EQ(tables.read(SystemProxySet{false, "p:8080"}).facts,
            R"(proxy enabled, server "10.8.0.1:3128", not the original settings: proxy disabled, )"
            R"(server "p:8080")");
  tables.failing = {"proxy"};
  EXPECT_EQ(tables.read(SystemProxySet{}), (ReadBack{kCannotTell, "proxy failed"}));
}

TEST(ReadBack, FirewallRuleAddedAsksForTheRuleByName) {
  Tables tables;
  tables.rules = {"NUV block"};
  EXPECT_EQ(tables.read(FirewallRuleAdded{"NUV block"}),
            (ReadBack{kInPlace, R"(firewall rule "NUV block" exists)"}));
  EXPECT_EQ(tables.read(FirewallRuleAdded{"NUV allow"}),
            (ReadBack{kGone, R"(no firewall rule named "NUV allow")"}));
  tables.failing = {"firewall"};
  EXPECT_EQ(tables.read(FirewallRuleAdded{"NUV block"}),
            (ReadBack{kCannotTell, "firewall failed"}));
}

// Nothing to read, or nothing to read with: the tools' verdict stands.
TEST(ReadBack, UnsetMembersAndCustomCommandsCannotTell) {
  const ReadBackSystem none;
  for (const SystemChange& change : std::vector<SystemChange>{
           TunInterfaceUp{"utun-nuv", "10.8.0.2", "m"}, RouteAdded{"0.0.0.0/1", {}, {}, {}},
           DnsOverridden{"Wi-Fi", 12u, {}}, DnsOverridden{"Wi-Fi", std::nullopt, {}},
           FirewallRuleAdded{"r"}, SystemProxySet{}}) {
    const ReadBack found = read_back_change(change, none);
    EXPECT_EQ(found.state, kCannotTell) << change.index();
    EXPECT_FALSE(found.facts.empty()) << change.index();
  }
  for (const char* member : {"by alias", "addresses"}) {
    Tables tables;
    tables.addresses = {{7, ip("10.8.0.2")}};
    tables.unset = {member};
    EXPECT_EQ(tables.read(TunInterfaceUp{"utun-nuv", "10.8.0.2", "m"}).state, kCannotTell)
        << member;
  }
  Tables tables;
  EXPECT_EQ(tables.read(CustomCommand{"restore hosts", {"fix"}}), ReadBack{});
  EXPECT_EQ(read_back_change(CustomCommand{"c", {}}, none), (ReadBack{kCannotTell, ""}));
}

TEST(ReadBack, StateTextSaysWhatWasFound) {
  EXPECT_EQ(change_state_text({kInPlace, "route 0.0.0.0/1"}), "in place");
  EXPECT_EQ(change_state_text({kGone, "no firewall rule"}), "already gone");
  EXPECT_EQ(change_state_text({kCannotTell, "routes failed"}), "cannot tell: routes failed");
  EXPECT_EQ(change_state_text({kCannotTell, ""}), "cannot tell");
}

}  // namespace
}  // namespace nuv
