// The recovery sequence, run once after the parent disappeared without the
// clean flag: the orphan adapter cleanup, then the journal rollback, each
// followed by its summary line.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "watchdog/message_sink.h"

namespace nuv {

// The two repairs. The program passes clean_wintun_orphans and
// recover_system_state; tests pass fakes.
struct RecoverySteps {
  std::function<std::uint64_t()> clean_wintun_orphans;
  std::function<std::optional<std::vector<std::string>>()> recover_system_state;
};

// Runs both steps, always, in order. Never fails; everything it has to say
// goes to `sink`.
void run_recovery(MessageSink& sink, const RecoverySteps& steps);

}  // namespace nuv
