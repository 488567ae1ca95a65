#include "state/journal_lock.h"

#include "common/list_notation.h"

namespace nuv {

std::string abandoned_lock_text(const std::string& state_path) {
  return "journal " + list_notation({state_path}) +
         ": its lock was abandoned by a recovery that ended without releasing it, which may have "
         "stopped part-way; the journal is read afresh";
}

}  // namespace nuv
