// Runs the state recovery once, as the watchdog does after a crash, and
// prints its outcome on standard output: "absent", "left alone" (a watchdog
// monitors a client of the journal), or "errors <n>" followed
// by one line per message with backslash, carriage return and line feed
// written as \\, \r and \n. It keeps no log: a crash test's journal of
// thousands of records would fill a pipe that nobody reads. Given
// --without-read-back, no change is read back.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "watchdog/system_state_recovery_win.h"

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // line feeds as they are
  nuv::NullLog log;
  // --without-read-back: every change reads back as "cannot tell", so that
  // the stand-in tools' answers alone decide, whatever this machine holds.
  const bool read_back = !(argc > 1 && std::string(argv[1]) == "--without-read-back");
  const auto result = read_back
                          ? nuv::recover_system_state(log)
                          : nuv::recover_system_state(log, nullptr, {}, nuv::ReadBackSystem{});
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
