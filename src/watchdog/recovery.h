// The recovery sequence, run once after the parent disappeared without the
// clean flag: the orphan adapter cleanup, then the journal rollback, each
// followed by its summary line.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/error_list.h"
#include "common/result.h"
#include "state/state_recovery.h"
#include "watchdog/message_sink.h"

namespace nuv {

// Running out of memory inside a recovery step ends that step, never the
// process: the exit code must still say that a recovery ran, and the other
// step still has its chance.
struct OutOfMemoryReport {
  // The system's words for it (error 8), got before the steps run, while
  // there was memory to get them.
  std::string system_text;
  // Where the adapter step says that it ran out of memory. Not set: nowhere.
  std::function<void(std::string_view line)> log;
};

// The adapter step's count; 0, with one line in the report's log, when it
// ran out of memory.
std::uint64_t orphan_count_within_memory(const std::function<std::uint64_t()>& clean_wintun_orphans,
                                         const OutOfMemoryReport& report);

// The one error of a journal step that ran out of memory, before it touched
// the journal: "out of memory: <system text>".
ErrorList out_of_memory_errors(const OutOfMemoryReport& report);

// What the journal step came to: the messages of the undos that failed,
// possibly none, or why it rolled nothing back.
using JournalStepResult = Result<ErrorList, NothingToRecover>;

// The journal step's summary line for that result.
std::string journal_step_message(const JournalStepResult& result);

// The two repairs. The program passes clean_wintun_orphans and
// recover_system_state; tests pass fakes.
struct RecoverySteps {
  std::function<std::uint64_t()> clean_wintun_orphans;
  std::function<JournalStepResult()> recover_system_state;
  OutOfMemoryReport out_of_memory;
};

// Runs both steps, always, in order. Never fails; everything it has to say
// goes to `sink`.
void run_recovery(MessageSink& sink, const RecoverySteps& steps);

}  // namespace nuv
