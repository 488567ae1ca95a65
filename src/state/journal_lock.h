// The lock that keeps a journal to one recovery at a time, across processes,
// and the log's line for a lock whose last holder died holding it.
#pragma once

#include <memory>
#include <string>
#include <utility>

namespace nuv {

// Held for as long as it lives: one recovery of a journal at a time, across
// processes. The system releases it when its holder dies. Movable; what
// holds the lock underneath (a mutex on Windows) is the platform's, kept out
// of sight so that the portable run can hold any.
class JournalLock {
 public:
  // Takes over `holder`, an owner that lets the lock go when it is destroyed.
  // `abandoned`: the lock was had only because its last holder ended
  // without giving it back.
  template <class Holder>
  JournalLock(Holder holder, bool abandoned)
      : holder_(new Holder(std::move(holder)),
                [](void* held) { delete static_cast<Holder*>(held); }),
        abandoned_(abandoned) {}

  // True when that holder's recovery may have stopped part-way.
  [[nodiscard]] bool abandoned() const { return abandoned_; }

 private:
  std::unique_ptr<void, void (*)(void*)> holder_;
  bool abandoned_ = false;
};

// The log's line for a lock that was had that way.
std::string abandoned_lock_text(const std::string& state_path);

}  // namespace nuv
