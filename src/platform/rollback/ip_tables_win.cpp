#include "platform/rollback/ip_tables_win.h"

#include <cstring>
#include <cwchar>
#include <functional>
#include <utility>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/unique_handle_win.h"
#include "common/unique_resource.h"
#include "common/wide.h"
#include "platform/rollback/interface_guid_win.h"

// The socket address types first: iphlpapi.h declares the *2 tables only
// once they are known.
#include <winsock2.h>
#include <ws2ipdef.h>

#include <iphlpapi.h>
#include <netioapi.h>

namespace nuv {
namespace {

// A table the IP Helper allocated, given back with FreeMibTable.
template <class Table>
struct MibTableTraits {
  using Pointer = Table*;
  using CloseGuard = LastErrorKeeper;  // a close never changes the caller's error
  static Pointer invalid() { return nullptr; }
  static void close(Pointer table) { ::FreeMibTable(table); }
};
template <class Table>
using UniqueMibTable = UniqueResource<MibTableTraits<Table>>;

std::string call_failed(const char* call, DWORD status) {
  return std::string(call) + " failed: " + os_error_text(status);
}

// The address of a SOCKADDR_INET in network order; absent for a family that
// is neither IPv4 nor IPv6.
std::optional<IpAddress> address_of(const SOCKADDR_INET& socket_address) {
  IpAddress address;
  switch (socket_address.si_family) {
    case AF_INET:
      address.family = IpAddress::Family::kV4;
      static_assert(sizeof(socket_address.Ipv4.sin_addr) == 4);
      std::memcpy(address.bytes.data(), &socket_address.Ipv4.sin_addr, 4);
      return address;
    case AF_INET6:
      address.family = IpAddress::Family::kV6;
      static_assert(sizeof(socket_address.Ipv6.sin6_addr) == 16);
      std::memcpy(address.bytes.data(), &socket_address.Ipv6.sin6_addr, 16);
      return address;
    default:
      return std::nullopt;
  }
}

Result<InterfaceRow, std::string> interface_row(const MIB_IF_ROW2& row) {
  const std::wstring_view alias(row.Alias, ::wcsnlen(row.Alias, std::size(row.Alias)));
  auto alias_text = from_wide(alias);
  if (!alias_text) {
    return unexpected("the alias of interface " + std::to_string(row.InterfaceIndex) +
                      " is not valid UTF-16");
  }
  return InterfaceRow{row.InterfaceIndex, std::move(*alias_text),
                      interface_guid_text(row.InterfaceGuid)};
}

// The first row of the interface table that `matches`.
Result<std::optional<InterfaceRow>, std::string> find_interface(
    const std::function<bool(const MIB_IF_ROW2&)>& matches) {
  UniqueMibTable<MIB_IF_TABLE2> table;
  const DWORD status = ::GetIfTable2(table.put());
  if (status != NO_ERROR) return unexpected(call_failed("GetIfTable2", status));
  for (ULONG i = 0; i < table.get()->NumEntries; ++i) {
    const MIB_IF_ROW2& row = table.get()->Table[i];
    if (!matches(row)) continue;
    auto found = interface_row(row);
    if (!found) return unexpected(std::move(found.error()));
    return std::optional<InterfaceRow>(std::move(*found));
  }
  return std::optional<InterfaceRow>();
}

}  // namespace

Result<std::optional<InterfaceRow>, std::string> find_interface_by_alias(const std::string& alias) {
  const auto wide = to_wide(alias);
  if (!wide) return unexpected(std::string("the alias is not valid UTF-8"));
  return find_interface([&](const MIB_IF_ROW2& row) {
    return ::CompareStringOrdinal(
               row.Alias, static_cast<int>(::wcsnlen(row.Alias, std::size(row.Alias))),
               wide->c_str(), static_cast<int>(wide->size()), TRUE) == CSTR_EQUAL;
  });
}

Result<std::optional<InterfaceRow>, std::string> find_interface_by_index(std::uint32_t index) {
  return find_interface([&](const MIB_IF_ROW2& row) { return row.InterfaceIndex == index; });
}

Result<std::vector<AddressRow>, std::string> read_unicast_addresses() {
  UniqueMibTable<MIB_UNICASTIPADDRESS_TABLE> table;
  const DWORD status = ::GetUnicastIpAddressTable(AF_UNSPEC, table.put());
  // ERROR_NOT_FOUND is the system's word for an empty table.
  if (status == ERROR_NOT_FOUND) return std::vector<AddressRow>();
  if (status != NO_ERROR) return unexpected(call_failed("GetUnicastIpAddressTable", status));
  std::vector<AddressRow> rows;
  rows.reserve(table.get()->NumEntries);
  for (ULONG i = 0; i < table.get()->NumEntries; ++i) {
    const MIB_UNICASTIPADDRESS_ROW& row = table.get()->Table[i];
    const auto address = address_of(row.Address);
    if (!address) continue;
    rows.push_back(AddressRow{row.InterfaceIndex, *address});
  }
  return rows;
}

Result<std::vector<RouteRow>, std::string> read_routes() {
  UniqueMibTable<MIB_IPFORWARD_TABLE2> table;
  const DWORD status = ::GetIpForwardTable2(AF_UNSPEC, table.put());
  if (status == ERROR_NOT_FOUND) return std::vector<RouteRow>();
  if (status != NO_ERROR) return unexpected(call_failed("GetIpForwardTable2", status));
  std::vector<RouteRow> rows;
  rows.reserve(table.get()->NumEntries);
  for (ULONG i = 0; i < table.get()->NumEntries; ++i) {
    const MIB_IPFORWARD_ROW2& row = table.get()->Table[i];
    const auto destination = address_of(row.DestinationPrefix.Prefix);
    if (!destination) continue;
    // An unspecified next hop (family 0 on some hosts) is on-link: all zeros
    // of the destination's family.
    IpAddress next_hop{destination->family, {}};
    if (const auto hop = address_of(row.NextHop)) next_hop = *hop;
    rows.push_back(RouteRow{*destination, row.DestinationPrefix.PrefixLength, next_hop,
                            row.InterfaceIndex, row.Metric});
  }
  return rows;
}

}  // namespace nuv
