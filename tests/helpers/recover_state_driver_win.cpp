// Runs the state recovery once, as the watchdog does after a crash, and
// prints its outcome on standard output: "absent", "left alone" (a watchdog
// monitors a client of the journal), or "errors <n>" followed
// by one line per message with backslash, carriage return and line feed
// written as \\, \r and \n. It keeps no log: a crash test's journal of
// thousands of records would fill a pipe that nobody reads.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "watchdog/system_state_recovery_win.h"

int main() {
  _setmode(_fileno(stdout), _O_BINARY);  // line feeds as they are
  nuv::NullLog log;
  const auto result = nuv::recover_system_state(log);
  if (!result) {
    std::printf(result.error() == nuv::NothingToRecover::kWatched ? "left alone\n" : "absent\n");
    return 0;
  }
  std::printf("errors %zu\n", result->count());
  for (const auto& message : result->listed()) {
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
