#include "watchdog/recovery.h"

#include <new>

#include "watchdog/messages.h"

namespace nuv {
namespace {

// A summary line that cannot be made for want of memory is lost, like one
// that standard error cannot take; the run still ends with its exit code.
template <class MakeLine>
void write_if_memory_allows(MessageSink& sink, const MakeLine& make_line) {
  try {
    sink.write_line(make_line());
  } catch (const std::bad_alloc&) {  // NOLINT(bugprone-empty-catch): nothing left to say it with
  }
}

}  // namespace

std::uint64_t orphan_count_within_memory(const std::function<std::uint64_t()>& clean_wintun_orphans,
                                         const OutOfMemoryReport& report) {
  try {
    return clean_wintun_orphans();
  } catch (const std::bad_alloc&) {
    // The cleanup's lock file and library were released on the way out.
    try {
      if (report.log) report.log("adapter cleanup ended: out of memory: " + report.system_text);
    } catch (const std::bad_alloc&) {  // NOLINT(bugprone-empty-catch): the count still says 0
    }
    return 0;
  }
}

ErrorList out_of_memory_errors(const OutOfMemoryReport& report) {
  return ErrorList{"out of memory: " + report.system_text};
}

std::string journal_step_message(const JournalStepResult& result) {
  if (result) return state_recovery_message(*result);
  if (result.error() == NothingToRecover::kWatched) return state_left_alone_message();
  return state_recovery_message(std::nullopt);
}

void run_recovery(MessageSink& sink, const RecoverySteps& steps) {
  write_if_memory_allows(sink, [&] {
    return orphan_cleanup_message(
        orphan_count_within_memory(steps.clean_wintun_orphans, steps.out_of_memory));
  });
  JournalStepResult result = ErrorList{};
  try {
    result = steps.recover_system_state();
  } catch (const std::bad_alloc&) {
    // The undos are where memory goes, and the journal and its meta file
    // are written only after the last of them: both stay as they were, for
    // the next run.
    write_if_memory_allows(
        sink, [&] { return state_recovery_message(out_of_memory_errors(steps.out_of_memory)); });
    return;
  }
  write_if_memory_allows(sink, [&] { return journal_step_message(result); });
}

}  // namespace nuv
