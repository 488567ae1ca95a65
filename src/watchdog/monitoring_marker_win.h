// The monitoring marker: a named event that a watchdog holds while it watches
// a running client, so that a recovery on request never undoes the changes
// of a live client.
#pragma once

#include <string>

#include "common/result.h"
#include "common/unique_handle_win.h"

namespace nuv {

class MonitoringMarker {
 public:
  // Creates or opens the marker of the journal at this path; on failure, why
  // it could not be raised, for the log.
  Result<void, std::string> raise(const std::string& state_path);
  // Closes this watchdog's handle; the marker is gone once no one holds it.
  void lower() { event_.reset(); }

 private:
  UniqueHandle event_;
};

// True unless the system answers that no marker of the journal at this path
// exists: a marker seen, one that may not be opened (an elevated watchdog's,
// seen from an unelevated shell) and any other doubt all count as monitoring.
bool watchdog_monitors(const std::string& state_path);

}  // namespace nuv
