// Asio first: its winsock2.h must precede any windows.h built without
// WIN32_LEAN_AND_MEAN, which would pull in the older winsock.h.
#include <asio/awaitable.hpp>

#include "platform/process/command_runner.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "common/log.h"
#include "common/os_error.h"
#include "platform/process/child_run_win.h"
#include "platform/process/child_standard_input_win.h"
#include "platform/process/child_start_win.h"

namespace nuv {
namespace {

// What a run that ran out of memory (or threads) ends with. Its text needs
// memory too; if even that fails, the error goes without one.
LaunchError out_of_memory() noexcept {
  try {
    return LaunchError::from_os(kOutOfMemoryError);
  } catch (...) {
    LaunchError bare;
    bare.kind = LaunchErrorKind::kOsError;
    bare.os_code = kOutOfMemoryError;
    return bare;
  }
}

}  // namespace

asio::awaitable<Result<CommandOutput, LaunchError>> run_command(
    EventLoop& loop,
    CommandRequest request,  // cppcheck-suppress passedByValue ; a coroutine owns its arguments
    CommandLimits limits, ChildStandardInput* standard_input) {
  std::string program_path;
  std::optional<Result<CommandOutput, LaunchError>> outcome;
  // A caller that names no standard input gets the watchdog's own as it is
  // now, or the NUL device when that cannot be duplicated, unlogged.
  NullLog unlogged;
  ChildStandardInput as_it_is(StandardInputAtStart{}, unlogged);
  auto child = start_child(request, standard_input ? *standard_input : as_it_is, program_path);
  if (!child) {
    outcome.emplace(unexpected(std::move(child).error()));
  } else if (auto made = make_child_run(loop, std::move(*child), limits)) {
    const std::shared_ptr<ChildRun> run = std::move(*made);
    run->start();
    bool decided = false;
    try {
      co_await run->until_decided();
      decided = true;
    } catch (...) {
      run->abandon();
    }
    if (decided) outcome.emplace(run->finish());
  }
  // Memory ran out on the way, in making the run or in waiting for it.
  if (!outcome) outcome.emplace(unexpected(out_of_memory()));
  // Once the search has found the program, the outcome names it, whatever
  // became of the run.
  if (*outcome) {
    (*outcome)->program_path = std::move(program_path);
  } else {
    outcome->error().program_path = std::move(program_path);
  }
  co_return std::move(*outcome);
}

Result<CommandOutput, LaunchError> run_command_blocking(
    EventLoop& loop, const CommandRequest& request, CommandLimits limits,
    ChildStandardInput* standard_input) noexcept {
  try {
    return loop.run_blocking(run_command(loop, request, limits, standard_input));
  } catch (...) {
    // The coroutine's frame, its copy of the request, the spawn on the loop
    // and the outcome's texts all need memory.
    return unexpected(out_of_memory());
  }
}

}  // namespace nuv
