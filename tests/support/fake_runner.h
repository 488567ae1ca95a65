// A command runner for the portable tests: logs every request and answers
// from a script the test sets, per program name.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/process/command.h"

namespace nuv::test {

struct Answer {
  Answer(std::uint32_t exit = 0, std::string err = {}, std::string out = {},
         std::optional<std::string> launch = std::nullopt)
      : exit_code(exit),
        stderr_bytes(std::move(err)),
        stdout_bytes(std::move(out)),
        launch_error(std::move(launch)) {}
  std::uint32_t exit_code;
  std::string stderr_bytes;
  std::string stdout_bytes;
  std::optional<std::string> launch_error;  // set: the launch fails with this text
  std::uint64_t stderr_dropped = 0;         // read beyond the kept bytes, as the runner counts
};

class FakeRunner {
 public:
  std::map<std::string, Answer> answers;  // by program; unlisted programs exit 0
  std::vector<CommandRequest> requests;

  // One line per command: program and arguments, each argument in brackets.
  [[nodiscard]] std::vector<std::string> log() const {
    std::vector<std::string> lines;
    for (const auto& r : requests) {
      std::string line = r.program;
      for (const auto& a : r.args) line += " [" + a + "]";
      lines.push_back(line);
    }
    return lines;
  }

  CommandRunner runner() {
    return [this](const CommandRequest& request) -> Result<CommandOutput, LaunchError> {
      requests.push_back(request);
      const auto it = answers.find(request.program);
      // Found, as the real search would, in a folder of its own.
      const std::string resolved = "C:\\tools\\" + request.program + ".exe";
      CommandOutput output;
      output.program_path = resolved;
      if (it == answers.end()) return output;
      if (it->second.launch_error)
        return unexpected(LaunchError::not_found(*it->second.launch_error));
      output.exit_code = it->second.exit_code;
      output.stdout_bytes = it->second.stdout_bytes;
      output.stderr_bytes = it->second.stderr_bytes;
      output.stderr_dropped = it->second.stderr_dropped;
      return output;
    };
  }
};

}  // namespace nuv::test
