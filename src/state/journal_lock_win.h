// One recovery of a journal at a time, across the processes of a session,
// and the key from which the names of the objects that stand for a journal
// are formed.
#pragma once

#include <chrono>
#include <string>

#include "common/os_error.h"
#include "common/result.h"
#include "state/journal_lock.h"

namespace nuv {

// The journal's full path, upper-cased as the invariant locale has it, from
// which the names of its lock and of its monitoring marker are formed; or
// the system's error when it cannot be had.
Result<std::u16string, OsError> journal_name_key(const std::string& state_path);

// Waits, without limit, until no other recovery holds the journal at this
// path, and holds it while the result lives. The system's error when the
// lock cannot be had: the recovery then goes on without it, as it did before
// there was one, since an undone network is worse than the rare double run
// it prevents.
Result<JournalLock, OsError> lock_journal(const std::string& state_path);

// The same, waiting at most `limit`: OsError{WAIT_TIMEOUT} when the time ran
// out with another recovery still holding the journal.
Result<JournalLock, OsError> lock_journal_within(const std::string& state_path,
                                                 std::chrono::milliseconds limit);

}  // namespace nuv
