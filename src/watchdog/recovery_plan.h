// The plan (--plan): what a recovery would do with a journal, shown without
// doing any of it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "common/result.h"
#include "platform/process/launch_error.h"
#include "platform/process/program_search.h"
#include "platform/rollback/read_back.h"
#include "state/state_files.h"
#include "watchdog/command_line.h"
#include "watchdog/message_sink.h"

namespace nuv {

// What the plan asks of the system: questions only, nothing that changes it.
struct PlanSystem {
  // The value of APPDATA; absent when it is not set.
  std::function<std::optional<std::string>()> appdata;
  // Only read is used.
  StateFiles files;
  // The program search's questions, answered now as a recovery's launch
  // would have them answered.
  ProgramSearchSystem program_search;
  // The runner's last check before it starts a file (`application`, as the
  // launch names it): nothing when the file is there, else the launch error
  // that starting it would end with.
  std::function<Result<void, LaunchError>(const std::u16string& application)> check_application;
  // The system's text of error 8, got before the plan begins, so that saying
  // that memory ran out takes little more of it.
  std::string out_of_memory_text;
  // Reads a change back from this machine, as a recovery does after its
  // undo. Not set: the plan shows no states.
  std::function<ReadBack(const SystemChange&)> read_back = {};
};

// Writes the plan to `out` and returns the exit code: 0 when the client's
// journal is absent, empty or valid; 3 when it cannot be read or is invalid,
// when APPDATA is not set, or when the file given does not exist. Under each
// record's command lines a line of its own says the record's state now, read
// back from this machine, and the first line counts each state. Memory
// running out while the plan is made (a huge journal or meta file) leaves one
// line instead, that the journal cannot be read for want of memory, and 3.
int show_recovery_plan(const PlanRequest& request, const PlanSystem& system, MessageSink& out);

}  // namespace nuv
