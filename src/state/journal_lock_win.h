// One recovery of a journal at a time, across the processes of a session.
#pragma once

#include <memory>
#include <string>

#include "state/state_recovery.h"

namespace nuv {

// Waits, without limit, until no other recovery holds the journal at this
// path, and holds it while the result lives. Null when the lock cannot be
// had: the recovery then goes on without it, as it did before there was one,
// since an undone network is worse than the rare double run it prevents.
std::unique_ptr<JournalLock> lock_journal(const std::string& state_path);

}  // namespace nuv
