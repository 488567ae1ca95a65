// The lock that keeps a journal to one recovery at a time, across processes,
// and the log's line for a lock whose last holder died holding it.
#pragma once

#include <string>

namespace nuv {

// Held for as long as it lives: one recovery of a journal at a time, across
// processes. The system releases it when its holder dies.
class JournalLock {
 public:
  virtual ~JournalLock() = default;
  // True when it was had only because its last holder ended without giving
  // it back: that holder's recovery may have stopped part-way.
  [[nodiscard]] virtual bool abandoned() const { return false; }
};

// The log's line for a lock that was had that way.
std::string abandoned_lock_text(const std::string& state_path);

}  // namespace nuv
