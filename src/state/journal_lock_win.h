// One recovery of a journal at a time, across the processes of a session,
// and the names of the objects that stand for a journal.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "state/journal_lock.h"

namespace nuv {

// The journal's full path, upper-cased as the invariant locale has it, from
// which the names of its lock and of its monitoring marker are formed.
// Absent when it cannot be had.
std::optional<std::u16string> journal_name_key(const std::string& state_path);

// Waits, without limit, until no other recovery holds the journal at this
// path, and holds it while the result lives. Null when the lock cannot be
// had: the recovery then goes on without it, as it did before there was one,
// since an undone network is worse than the rare double run it prevents.
std::unique_ptr<JournalLock> lock_journal(const std::string& state_path);

// The same, waiting at most `limit`. Null when the time ran out or the lock
// cannot be had at all.
std::unique_ptr<JournalLock> lock_journal_within(const std::string& state_path,
                                                 std::chrono::milliseconds limit);

}  // namespace nuv
