// An interface's statically configured DNS servers, read back.
#pragma once

#include <string>

#include "common/result.h"
#include "platform/rollback/read_back.h"

namespace nuv {

// The NameServer text of each family for `row`'s interface. Where the system
// has GetInterfaceDnsSettings (Windows 10 2004 and later) it is asked;
// elsewhere (older systems, Wine) the interface's Tcpip and Tcpip6 registry
// keys are read. A missing or empty value is no servers; a missing interface
// key, or any answer that is not understood, is an error. Both ways are local
// and answer at once: this cannot hang.
Result<DnsServerTexts, std::string> read_dns_servers(const InterfaceRow& row);

}  // namespace nuv
