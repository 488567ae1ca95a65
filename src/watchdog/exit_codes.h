// The exit codes of every form of the program.
#pragma once

namespace nuv {

inline constexpr int kExitClean = 0;      // flag present, or the lifetime ran out
inline constexpr int kExitRecovered = 1;  // recovery ran, whatever its outcome
inline constexpr int kExitUsage = 2;      // wrong arguments

// The recovery on request, and the plan, reuse 0 and 1 with their own sense
// (0: no journal with records is left; 1: changes remain) and add two codes.
inline constexpr int kExitJournalUnusable = 3;  // no APPDATA, or a journal unreadable or invalid
inline constexpr int kExitNotStarted = 4;       // a watchdog monitors, or another recovery runs

}  // namespace nuv
