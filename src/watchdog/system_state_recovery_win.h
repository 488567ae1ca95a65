// The state recovery on the real system: APPDATA, the files, the lock of the
// journal, and a runtime of its own on which every undo runs.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/error_list.h"
#include "common/log.h"
#include "common/result.h"
#include "platform/process/child_standard_input_win.h"
#include "platform/rollback/read_back_win.h"
#include "state/journal_outcome.h"
#include "state/state_recovery.h"
#include "watchdog/recovery.h"

namespace nuv {

// The messages of the undos that failed, possibly none, or why nothing was
// rolled back. `log` gets the run's detail lines; the tools get
// `standard_input` (see run_command); `journal_locked` is called once the
// journal's lock is held, before the journal is read; each undo is judged by
// reading its change back from `machine` (a test's may answer "cannot tell").
JournalStepResult recover_system_state(Log& log, ChildStandardInput* standard_input = nullptr,
                                       std::function<void()> journal_locked = {},
                                       ReadBackSystem machine = windows_read_back_system());

// The same for a caller that already holds the journal's lock, with the
// whole outcome or why there was nothing to recover.
Result<RollbackOutcome, NothingToRecover> recover_journal_holding_its_lock(
    Log& log, ChildStandardInput* standard_input = nullptr);

// What a recovery step that runs out of memory leaves: the system's text of
// error 8, got now, and `log` for the adapter step's line.
OutOfMemoryReport out_of_memory_report(Log& log);

}  // namespace nuv
