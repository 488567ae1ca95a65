// A journal lock for the portable tests: says "unlock" in the events it was
// given when it is let go.
#pragma once

#include <string>
#include <vector>

#include "common/unique_resource.h"
#include "state/journal_lock.h"

namespace nuv::test {

// The event list is the held value; letting it go records the unlock.
struct UnlockRecordingTraits {
  using Pointer = std::vector<std::string>*;
  static Pointer invalid() { return nullptr; }
  static void close(Pointer events) { events->emplace_back("unlock"); }
};

inline JournalLock recording_journal_lock(std::vector<std::string>& events) {
  return {UniqueResource<UnlockRecordingTraits>(&events), /*abandoned=*/false};
}

}  // namespace nuv::test
