// The loaded journal that the rollback engine works on.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "state/system_change.h"

namespace nuv {

// Two independent locks, never held together: one guards the changes, the
// other the meta values.
struct SystemStateStore {
  std::optional<std::string> state_path;  // absent: the journal file is left alone
  std::optional<std::string> meta_path;   // absent: the meta file is left alone
  // The journal's bytes as they were read. Before the journal is replaced or
  // deleted it is read again and compared with these: a client relaunched
  // during the rollback may have written its new session there. Absent: no
  // comparison.
  std::optional<std::string> loaded_journal;

  std::mutex changes_lock;
  std::vector<SystemChange> changes;  // journal order, oldest first

  std::mutex meta_lock;
  SystemStateMeta meta;
};

}  // namespace nuv
