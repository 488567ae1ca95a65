// The read-back's view of the running system, under Wine: the IP Helper
// tables, the user's proxy values, and the two sources Wine cannot answer
// (the firewall's rules, an interface's DNS keys), which must fail in time
// rather than hang or crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/win32.h"
#include "platform/rollback/firewall_rules_win.h"
#include "platform/rollback/interface_guid_win.h"
#include "platform/rollback/read_back_win.h"
#include "platform/rollback/registry_values_win.h"
#include "support/result_values.h"
#include "support/saved_proxy_values_win.h"

namespace nuv::test {
namespace {

using namespace std::chrono_literals;

// The loopback row as the table lists it: the interface holding 127.0.0.1.
std::optional<InterfaceRow> loopback(const ReadBackSystem& system) {
  const auto addresses = system.unicast_addresses();
  if (!addresses) return std::nullopt;
  const IpAddress localhost{IpAddress::Family::kV4, {127, 0, 0, 1}};
  for (const AddressRow& row : *addresses) {
    if (row.address != localhost) continue;
    const auto found = system.interface_by_index(row.interface_index);
    if (found && found->has_value()) return **found;
  }
  return std::nullopt;
}

std::string upper_cased(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

TEST(ReadBackSystem, InterfacesAreFoundByAliasInAnyCaseAndByIndex) {
  const ReadBackSystem system = windows_read_back_system();
  const auto lo = loopback(system);
  ASSERT_TRUE(lo) << "no interface holds 127.0.0.1";
  EXPECT_FALSE(lo->alias.empty());
  ASSERT_EQ(lo->guid.size(), 38u);
  EXPECT_EQ(lo->guid.front(), '{');
  EXPECT_EQ(lo->guid, upper_cased(lo->guid));

  EXPECT_EQ(value_of(system.interface_by_alias(lo->alias)), std::optional(lo));
  EXPECT_EQ(value_of(system.interface_by_alias(upper_cased(lo->alias))), std::optional(lo));
  EXPECT_EQ(value_of(system.interface_by_index(lo->index)), std::optional(lo));
}

TEST(ReadBackSystem, InterfacesThatDoNotExistAreAbsentNotErrors) {
  const ReadBackSystem system = windows_read_back_system();
  const auto by_alias = system.interface_by_alias("nuv no such interface");
  ASSERT_TRUE(by_alias) << by_alias.error();
  EXPECT_EQ(*by_alias, std::nullopt);
  const auto by_index = system.interface_by_index(0x7FFF'FFF0u);
  ASSERT_TRUE(by_index) << by_index.error();
  EXPECT_EQ(*by_index, std::nullopt);
}

TEST(ReadBackSystem, AddressesHoldLocalhostOnTheLoopback) {
  const ReadBackSystem system = windows_read_back_system();
  const auto addresses = system.unicast_addresses();
  ASSERT_TRUE(addresses) << addresses.error();
  const auto lo = loopback(system);
  ASSERT_TRUE(lo);
  const IpAddress localhost{IpAddress::Family::kV4, {127, 0, 0, 1}};
  EXPECT_TRUE(std::any_of(addresses->begin(), addresses->end(), [&](const AddressRow& row) {
    return row.interface_index == lo->index && row.address == localhost;
  }));
}

TEST(ReadBackSystem, RoutesAreReadAndALoopbackRouteHasItsFields) {
  const ReadBackSystem system = windows_read_back_system();
  const auto routes = system.routes();
  ASSERT_TRUE(routes) << routes.error();
  const IpAddress loopback_net{IpAddress::Family::kV4, {127, 0, 0, 0}};
  for (const RouteRow& row : *routes) {
    if (row.destination != loopback_net || row.prefix_length != 8) continue;
    EXPECT_NE(row.interface_index, 0u);
    EXPECT_EQ(row.next_hop.family, IpAddress::Family::kV4);
    // Its interface is in the table.
    const auto on = system.interface_by_index(row.interface_index);
    ASSERT_TRUE(on);
    EXPECT_TRUE(on->has_value());
  }
}

// Under Wine there is neither GetInterfaceDnsSettings nor an Interfaces key:
// the answer is an error, in time. On Windows the loopback has no static
// servers. Either way the call comes back.
TEST(ReadBackSystem, DnsServersOfTheLoopbackComeBack) {
  const ReadBackSystem system = windows_read_back_system();
  const auto lo = loopback(system);
  ASSERT_TRUE(lo);
  const auto servers = system.dns_servers(*lo);
  if (!servers) {
    EXPECT_FALSE(servers.error().empty());
  }

  InterfaceRow bad = *lo;
  bad.guid = "not a guid";
  EXPECT_FALSE(system.dns_servers(bad));
}

bool under_wine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The registry keys of a made-up interface, created for a test and deleted
// afterwards from the first one that did not exist before.
class ScratchInterfaceKeys {
 public:
  explicit ScratchInterfaceKeys(const std::string& guid) {
    for (const std::wstring service : {L"Tcpip", L"Tcpip6"}) {
      const std::wstring parameters =
          L"SYSTEM\\CurrentControlSet\\Services\\" + service + L"\\Parameters";
      const std::wstring interfaces = parameters + L"\\Interfaces";
      std::wstring first_new = interfaces + L"\\" + std::wstring(guid.begin(), guid.end());
      for (const std::wstring& ancestor : {interfaces, parameters}) {
        if (!open_registry_key(HKEY_LOCAL_MACHINE, ancestor.c_str())) first_new = ancestor;
      }
      created_.push_back(first_new);
      keys_.emplace_back();
      const std::wstring path = interfaces + L"\\" + std::wstring(guid.begin(), guid.end());
      EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, keys_.back().put(), nullptr),
                ERROR_SUCCESS);
    }
  }
  ScratchInterfaceKeys(const ScratchInterfaceKeys&) = delete;
  ScratchInterfaceKeys& operator=(const ScratchInterfaceKeys&) = delete;
  ~ScratchInterfaceKeys() {
    keys_.clear();
    for (const std::wstring& path : created_) {
      EXPECT_EQ(::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS);
    }
  }

  // Tcpip's key (0) or Tcpip6's (1).
  void set_name_server(int family, const std::wstring& text) {
    ASSERT_EQ(::RegSetValueExW(keys_[family].get(), L"NameServer", 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }

 private:
  std::vector<std::wstring> created_;
  std::vector<UniqueRegistryKey> keys_;
};

// Where GetInterfaceDnsSettings is missing, as under Wine, the interface's
// keys are read: a missing or empty value is no servers, a missing key an error.
TEST(ReadBackSystem, DnsServersComeFromTheInterfaceKeysWithoutTheSystemsCall) {
  if (!under_wine()) GTEST_SKIP() << "Windows answers through GetInterfaceDnsSettings";
  const ReadBackSystem system = windows_read_back_system();
  const InterfaceRow row{4242, "nuv scratch", "{6E75762D-7265-6164-2D62-61636B000001}"};
  EXPECT_FALSE(system.dns_servers(row));
  {
    ScratchInterfaceKeys keys(row.guid);
    auto servers = system.dns_servers(row);
    ASSERT_TRUE(servers) << servers.error();
    EXPECT_EQ(servers->v4, "");
    EXPECT_EQ(servers->v6, "");

    keys.set_name_server(0, L"10.8.0.1,1.1.1.1");
    keys.set_name_server(1, L"");
    servers = system.dns_servers(row);
    ASSERT_TRUE(servers) << servers.error();
    EXPECT_EQ(servers->v4, "10.8.0.1,1.1.1.1");
    EXPECT_EQ(servers->v6, "");

    keys.set_name_server(1, L"fd00::1 fd00::2");
    servers = system.dns_servers(row);
    ASSERT_TRUE(servers) << servers.error();
    EXPECT_EQ(servers->v6, "fd00::1 fd00::2");
  }
  EXPECT_FALSE(system.dns_servers(row));
}

TEST(ReadBackSystem, InterfaceGuidsReadAsTheRegistryNamesThem) {
  const GUID guid{0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  const std::string text = "{0123ABCD-4567-89EF-FEDC-BA9876543210}";
  EXPECT_EQ(interface_guid_text(guid), text);
  const auto parsed = parse_interface_guid("{0123abcd-4567-89ef-fedc-ba9876543210}");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(interface_guid_text(*parsed), text);
  for (const char* bad :
       {"0123ABCD-4567-89EF-FEDC-BA9876543210", "{0123ABCD-4567-89EF-FEDC-BA987654321}",
        "{0123ABCD-4567-89EF-FEDCBA9876543210-}", "{0123ABCG-4567-89EF-FEDC-BA9876543210}", ""}) {
    EXPECT_FALSE(parse_interface_guid(bad)) << bad;
  }
}

// Wine's INetFwRules::Item answers E_NOTIMPL: "cannot tell", and within the
// firewall's time.
TEST(ReadBackSystem, FirewallAnswersWithinItsTime) {
  const ReadBackSystem system = windows_read_back_system();
  const auto started = std::chrono::steady_clock::now();
  const auto exists = system.firewall_rule_exists("nuv read-back test rule");
  EXPECT_LT(std::chrono::steady_clock::now() - started, 6s);
  if (under_wine()) {
    ASSERT_FALSE(exists);
    // Every step before Item worked: it is Item's own answer.
    EXPECT_EQ(exists.error().rfind("the firewall answered 0x80004001", 0), 0u) << exists.error();
  }
}

// A firewall that has not answered in time is an error; while the thread
// still asking it has not finished, further questions fail at once, and once
// it has, the firewall is asked again.
TEST(ReadBackSystem, FirewallThatDoesNotAnswerInTimeIsAnError) {
  const std::string rule = "nuv read-back test rule";
  auto exists = firewall_rule_exists(rule, 0ms);
  // An answer may, rarely, be in before a wait of no time is over.
  if (!exists && exists.error().find("did not answer") != std::string::npos) {
    EXPECT_EQ(exists.error(), "the firewall did not answer within 0 s");
    const auto started = std::chrono::steady_clock::now();
    exists = firewall_rule_exists(rule);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    ASSERT_FALSE(exists);
    EXPECT_EQ(exists.error(), "the firewall has not answered an earlier question yet");
  }
  // The abandoned thread ends while the program still runs.
  for (int i = 0; i < 100; ++i) {
    exists = firewall_rule_exists(rule);
    if (exists || exists.error().find("earlier") == std::string::npos) break;
    ::Sleep(50);
  }
  if (exists) return;
  EXPECT_EQ(exists.error().find("earlier"), std::string::npos) << exists.error();
}

TEST(ReadBackSystem, ProxyValuesAreReadWithTheirTypes) {
  const ReadBackSystem system = windows_read_back_system();
  SavedProxyValues values;

  values.set_dword(L"ProxyEnable", 1);
  values.set_text(L"ProxyServer", L"proxy.test:3128");
  auto read = system.proxy();
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(read->enable_kind, ProxyValues::Enable::kDword);
  EXPECT_EQ(read->enable, 1u);
  EXPECT_EQ(read->server, "proxy.test:3128");

  values.set_dword(L"ProxyEnable", 0);
  values.set_text(L"ProxyServer", L"");
  read = system.proxy();
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(read->enable_kind, ProxyValues::Enable::kDword);
  EXPECT_EQ(read->enable, 0u);
  EXPECT_EQ(read->server, "");

  values.remove(L"ProxyEnable");
  values.remove(L"ProxyServer");
  read = system.proxy();
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(read->enable_kind, ProxyValues::Enable::kMissing);
  EXPECT_EQ(read->server, std::nullopt);

  // Text beyond ASCII comes back as UTF-8.
  values.set_text(L"ProxyEnable", L"1");
  values.set_text(L"ProxyServer", L"pr\u00f6xy.test:8080");
  read = system.proxy();
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(read->enable_kind, ProxyValues::Enable::kOtherType);
  EXPECT_EQ(read->server, "pr\xC3\xB6xy.test:8080");

  // A ProxyServer of another type cannot be read as a server.
  values.set_dword(L"ProxyServer", 1);
  EXPECT_FALSE(system.proxy());
}

}  // namespace
}  // namespace nuv::test
