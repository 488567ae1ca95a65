// The journal's markers: named events whose existence alone says something
// to every other watchdog of the same journal.
//
// The monitoring marker is held while a watchdog watches a running client, so
// that no recovery ever undoes the changes of a live session. The pending
// marker is held from the client's end until the journal's lock is, so that
// from the parent's end on something always shows that the journal may be
// about to be recovered.
#pragma once

#include <string>

#include "common/os_error.h"
#include "common/result.h"
#include "common/unique_handle_win.h"

namespace nuv {

enum class MarkerKind { kMonitoring, kPending };

// What "monitoring marker" or "pending marker" reads as in the log.
const char* marker_text(MarkerKind kind);

class JournalMarker {
 public:
  explicit JournalMarker(MarkerKind kind) : kind_(kind) {}

  // Creates or opens the marker of the journal at this path; on failure, why
  // it could not be raised, for the log.
  Result<void, std::string> raise(const std::string& state_path);
  // Closes this watchdog's handle; the marker is gone once no one holds it.
  void lower() { event_.reset(); }

 private:
  MarkerKind kind_;
  UniqueHandle event_;
};

// Whether a marker of this kind exists for the journal whose name key is
// `key`: true when it opens, or when it exists but may not be opened (an
// elevated watchdog's, seen from an unelevated shell); false when the system
// answers that there is none. Any other answer, or a key that could not be
// made, is the error, with the system's words, for the caller to weigh.
Result<bool, std::string> find_marker(MarkerKind kind, const Result<std::u16string, OsError>& key);

// The same for the journal at this path.
Result<bool, std::string> find_marker(MarkerKind kind, const std::string& state_path);

}  // namespace nuv
