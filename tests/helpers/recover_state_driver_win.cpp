// Runs the state recovery once, as the watchdog does after a crash, and
// prints its outcome on standard output: "absent", or "errors <n>" followed
// by one line per message with backslash, carriage return and line feed
// written as \\, \r and \n. Its log lines go to standard error.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "state/state_recovery.h"

namespace {

struct StandardErrorLog final : nuv::Log {
  void write(std::string_view text) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  }
};

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);  // line feeds as they are
  StandardErrorLog log;
  const auto result = nuv::recover_system_state(log);
  if (!result) {
    std::printf("absent\n");
    return 0;
  }
  std::printf("errors %zu\n", result->size());
  for (const auto& message : *result) {
    std::string line;
    for (const char c : message) {
      if (c == '\\')
        line += "\\\\";
      else if (c == '\r')
        line += "\\r";
      else if (c == '\n')
        line += "\\n";
      else
        line += c;
    }
    std::printf("%s\n", line.c_str());
  }
  return 0;
}
