// Undoes the journalled changes newest first and settles what is left: the
// journal and meta file are deleted after a complete rollback, or rewritten
// with the changes that failed and a raised count after a partial one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rollback/undo_commands.h"
#include "state/system_state_store.h"

namespace nuv {

// The file operations of the persistence step. Each reports success; the
// engine ignores failures beyond choosing what to do next.
class StateFiles {
 public:
  virtual ~StateFiles() = default;
  // The whole file; empty when it cannot be opened or read.
  virtual std::optional<std::string> read(const std::string& path) = 0;
  virtual bool remove(const std::string& path) = 0;
  // Creates or truncates the file, writes all bytes and flushes them to disk.
  virtual bool write(const std::string& path, std::string_view bytes) = 0;
  // Renames `from` to `to`, replacing a file already there, through to disk.
  virtual bool replace(const std::string& from, const std::string& to) = 0;
};

// Seconds since 1970-01-01 00:00:00 UTC; negative for a clock before 1970.
using WallClock = std::function<std::int64_t()>;

// How the journal was left once the undos were done.
enum class JournalKept {
  kNoPath,     // the store named no journal: no file work
  kDeleted,    // every undo succeeded
  kRewritten,  // it now holds the `records` changes that failed
  // The client rewrote or removed it during the rollback, so it is the
  // client's again: neither the journal nor the meta file was touched.
  kLeftBecauseChanged,
  // The new journal could not be written beside it, so every record stays;
  // the meta file still counts the partial rollback.
  kLeftBecauseTemporaryUnwritable,
};

struct JournalOutcome {
  JournalKept kept = JournalKept::kNoPath;
  std::size_t records = 0;  // for kRewritten: how many changes it holds
  bool operator==(const JournalOutcome&) const = default;
};

struct RollbackOutcome {
  std::vector<std::string> errors;  // one per failed undo, the newest failing change first
  JournalOutcome journal;
  bool operator==(const RollbackOutcome&) const = default;
};

// Runs every undo, one at a time, and persists the outcome. Returns one
// message per failed undo, the newest failing change first, and how the
// journal was left.
RollbackOutcome rollback_changes_with_outcome(SystemStateStore& store, const CommandRunner& run,
                                              StateFiles& files, const WallClock& clock);
// The same, with a line in `log` for every command run.
RollbackOutcome rollback_changes_with_outcome(SystemStateStore& store, const CommandRunner& run,
                                              StateFiles& files, const WallClock& clock, Log& log);

// The same, for callers that only want the messages.
std::vector<std::string> rollback_changes(SystemStateStore& store, const CommandRunner& run,
                                          StateFiles& files, const WallClock& clock);

}  // namespace nuv
