// Undoes the journalled changes newest first and settles what is left: the
// journal and meta file are deleted after a complete rollback, or rewritten
// with the changes that failed and a raised count after a partial one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/rollback/undo_commands.h"
#include "state/journal_outcome.h"
#include "state/state_files.h"
#include "state/system_state_store.h"

namespace nuv {

// Seconds since 1970-01-01 00:00:00 UTC; negative for a clock before 1970.
using WallClock = std::function<std::int64_t()>;

// Runs every undo, one at a time, and persists the outcome. Returns one
// message per failed undo, the newest failing change first (held within the
// error list's budget as they come), and how the journal was left. `log` gets
// a line for every command run; `system` lets the undos read the system's
// answers in its own language and announce a proxy change.
RollbackOutcome rollback_changes(SystemStateStore& store, const UndoSystem& system,
                                 const StateFiles& files, const WallClock& clock, Log& log);

}  // namespace nuv
