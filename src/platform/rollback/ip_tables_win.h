// The IP Helper tables the read-back scans: interfaces, unicast addresses and
// routes. Each call reads a whole table afresh; the calls are local to the
// IP stack and do not wait on anything, so none can hang.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/rollback/read_back.h"

namespace nuv {

// The row of GetIfTable2 whose alias equals `alias`, compared as netsh
// compares (ordinal, ignoring case). The table is scanned rather than asking
// ConvertInterfaceAliasToLuid, which Wine answers only for interfaces that
// exist on the Linux side and which keeps answering for deleted ones.
Result<std::optional<InterfaceRow>, std::string> find_interface_by_alias(const std::string& alias);

Result<std::optional<InterfaceRow>, std::string> find_interface_by_index(std::uint32_t index);

// GetUnicastIpAddressTable, both families.
Result<std::vector<AddressRow>, std::string> read_unicast_addresses();

// GetIpForwardTable2, both families (Wine gives IPv4 rows only).
Result<std::vector<RouteRow>, std::string> read_routes();

}  // namespace nuv
