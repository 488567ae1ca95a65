// Runs one system tool as a child process, without a shell, and hands back
// its exit code with everything it wrote on standard output and standard
// error, or a LaunchError when it could not be started or watched.
//
// The child inherits the watchdog's environment, current folder and standard
// input; each output stream goes to a fresh pipe that is read to its end on
// the event loop's blocking workers, while the exit is awaited through the
// system's wait registration. The child is never terminated.
#pragma once

#include <chrono>

#include <asio/awaitable.hpp>

#include "common/result.h"
#include "platform/process/command.h"
#include "platform/process/launch_error.h"
#include "platform/runtime/event_loop.h"

namespace nuv {

// Once the child has exited, its pipes get this long to reach their end: a
// grandchild that inherited them could otherwise hold the recovery forever.
inline constexpr std::chrono::milliseconds kPipeGracePeriod = std::chrono::seconds(5);
// A child still running this long after its start ends the run with a
// timed-out LaunchError (the child itself is left running).
inline constexpr std::chrono::milliseconds kExitDeadline = std::chrono::seconds(120);

struct CommandLimits {
  std::chrono::milliseconds grace_period = kPipeGracePeriod;
  std::chrono::milliseconds exit_deadline = kExitDeadline;
};

class ChildStandardInput;  // child_standard_input_win.h

// Completes when the child has exited and both pipes have reached their end
// (or the grace period after the exit has run out), or with the first
// failure. No thread of the loop ever blocks on the child. The child's
// standard input comes from `standard_input`; without one, it is the
// watchdog's own as it is now, or the NUL device when that cannot be passed.
asio::awaitable<Result<CommandOutput, LaunchError>> run_command(
    EventLoop& loop, CommandRequest request, CommandLimits limits = {},
    ChildStandardInput* standard_input = nullptr);

// run_command driven to its end from a thread outside the loop, as the
// recovery does. Throws nothing: memory or threads running out anywhere in
// the run end it with the launch error of ERROR_NOT_ENOUGH_MEMORY.
Result<CommandOutput, LaunchError> run_command_blocking(
    EventLoop& loop, const CommandRequest& request, CommandLimits limits = {},
    ChildStandardInput* standard_input = nullptr) noexcept;

}  // namespace nuv
