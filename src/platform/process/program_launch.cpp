#include "platform/process/program_launch.h"

#include <utility>

#include "common/utf.h"
#include "platform/process/windows_command_line.h"

namespace nuv {

Result<ProgramLaunch, LaunchError> prepare_launch(const CommandRequest& request,
                                                  const ProgramSearchSystem& system) {
  auto resolved = resolve_program(request.program, system);
  if (!resolved) return unexpected(std::move(resolved).error());
  std::string program_path = utf16_to_utf8(*resolved).value_or(std::string());
  // Every later failure still names the program the search found.
  const auto failed = [&program_path](LaunchError error) {
    error.program_path = program_path;
    return unexpected(std::move(error));
  };
  auto batch = is_batch_program(*resolved, system);
  if (!batch) return failed(std::move(batch).error());
  if (*batch) {
    auto launch = build_batch_command_line(*resolved, request.args, system);
    if (!launch) return failed(std::move(launch).error());
    return ProgramLaunch{std::move(launch->application), std::move(launch->command_line),
                         std::move(program_path)};
  }
  auto line = build_command_line(request.program, request.args);
  if (!line) return failed(std::move(line).error());
  return ProgramLaunch{std::move(*resolved), std::move(*line), std::move(program_path)};
}

}  // namespace nuv
