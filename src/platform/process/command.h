// One system tool to run, and what it answered: the seam between the undo
// plans, which only describe commands, and the runner, which starts them.
// Free of the event loop, so that code planning commands does not compile it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/process/launch_error.h"

namespace nuv {

struct CommandRequest {
  std::string program;  // a bare name, or a relative or absolute path (UTF-8)
  std::vector<std::string> args;
  std::uint32_t creation_flags = 0;  // CREATE_UNICODE_ENVIRONMENT is always added
};

// `stdout` and `stderr` are macros of the C runtime, hence the longer names.
// Each stream keeps the first kCaptureLimit bytes; what came after them was
// read and counted only, so that a flooding tool cannot exhaust our memory.
struct CommandOutput {
  std::uint32_t exit_code = 0;
  std::string stdout_bytes;  // undecoded, in order
  std::string stderr_bytes;
  std::uint64_t stdout_dropped = 0;  // bytes read after the kept ones
  std::uint64_t stderr_dropped = 0;
  std::string program_path;  // the program as resolved (UTF-8), for the log
};

// How much of each stream a run keeps: 1 MiB.
inline constexpr std::size_t kCaptureLimit = std::size_t{1024} * 1024;

// Runs one command to its end and hands back its outcome. The recovery passes
// run_command on its event loop; tests pass a fake.
using CommandRunner = std::function<Result<CommandOutput, LaunchError>(const CommandRequest&)>;

}  // namespace nuv
