// Undoes the journalled changes newest first and settles what is left: the
// journal and meta file are deleted after a complete rollback, or rewritten
// with the changes that failed and a raised count after a partial one.
#pragma once

#include <cstdint>
#include <functional>
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
  virtual bool remove(const std::string& path) = 0;
  // Creates or truncates the file, writes all bytes and flushes them to disk.
  virtual bool write(const std::string& path, std::string_view bytes) = 0;
  // Renames `from` to `to`, replacing a file already there, through to disk.
  virtual bool replace(const std::string& from, const std::string& to) = 0;
};

// Seconds since 1970-01-01 00:00:00 UTC; negative for a clock before 1970.
using WallClock = std::function<std::int64_t()>;

// Runs every undo, one at a time, and persists the outcome. Returns one
// message per failed undo, the newest failing change first.
std::vector<std::string> rollback_changes(SystemStateStore& store, const CommandRunner& run,
                                          StateFiles& files, const WallClock& clock);

}  // namespace nuv
