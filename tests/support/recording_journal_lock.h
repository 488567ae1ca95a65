// A journal lock for the portable tests: says "unlock" in the events it was
// given when it is let go.
#pragma once

#include <string>
#include <vector>

#include "state/state_recovery.h"

namespace nuv::test {

struct RecordingJournalLock final : JournalLock {
  explicit RecordingJournalLock(std::vector<std::string>& e) : events(e) {}
  RecordingJournalLock(const RecordingJournalLock&) = delete;
  RecordingJournalLock& operator=(const RecordingJournalLock&) = delete;
  ~RecordingJournalLock() override { events.emplace_back("unlock"); }
  std::vector<std::string>& events;
};

}  // namespace nuv::test
