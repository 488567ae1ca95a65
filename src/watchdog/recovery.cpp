#include "watchdog/recovery.h"

#include "watchdog/messages.h"

namespace nuv {

void run_recovery(MessageSink& sink, const RecoverySteps& steps) {
  sink.write_line(orphan_cleanup_message(steps.clean_wintun_orphans()));
  sink.write_line(state_recovery_message(steps.recover_system_state()));
}

}  // namespace nuv
