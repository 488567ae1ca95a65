// The current user's proxy values, read back from the registry.
#pragma once

#include <string>

#include "common/result.h"
#include "platform/rollback/read_back.h"

namespace nuv {

// ProxyEnable and ProxyServer of the current user's Internet Settings key
// (HKCU, Software\Microsoft\Windows\CurrentVersion\Internet Settings). A
// missing key reads as both values missing; a ProxyServer that is not REG_SZ,
// or any read that fails, is an error. Registry reads are local: this cannot
// hang.
Result<ProxyValues, std::string> read_proxy_values();

}  // namespace nuv
