// The read-back's view of the running Windows system.
#pragma once

#include "platform/rollback/read_back.h"

namespace nuv {

// The real system's tables and values for the read-back: the IP Helper's
// interface, address and route tables, the interfaces' DNS settings, the
// firewall's rules and the user's proxy values. Every member is set. None can
// hang: the tables and the registry are local and answer at once, and the
// firewall, whose service may not answer, is given a fixed time.
ReadBackSystem windows_read_back_system();

}  // namespace nuv
