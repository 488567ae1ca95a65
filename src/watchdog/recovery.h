// The recovery sequence, run once after the parent disappeared without the
// clean flag.
#pragma once

#include "watchdog/message_sink.h"

namespace nuv {

// Never fails; everything it has to say goes to `sink`.
void run_recovery(MessageSink& sink);

}  // namespace nuv
