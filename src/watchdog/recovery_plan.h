// The plan (--plan): what a recovery would do with a journal, shown without
// doing any of it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "common/result.h"
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
  // The program that the program search finds now (UTF-8), or why none.
  std::function<Result<std::string, std::string>(const std::string& program)> resolve_program;
};

// Writes the plan to `out` and returns the exit code: 0 when the client's
// journal is absent, empty or valid; 3 when it cannot be read or is invalid,
// when APPDATA is not set, or when the file given does not exist.
int show_recovery_plan(const PlanRequest& request, const PlanSystem& system, MessageSink& out);

}  // namespace nuv
