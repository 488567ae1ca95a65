// The standard input that the tools get. A client can start the watchdog
// with a standard input value that names no handle in the watchdog (one it
// forgot to make inheritable): Windows passes such a value on unchecked.
// Duplicating it fails, and every tool would fail to launch with it; worse,
// once the watchdog has opened handles of its own, the same number may name
// one of them, the journal or the log, and a tool would read that. So the
// value is judged once, first thing, before the watchdog opens any handle.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/log.h"
#include "common/unique_handle_win.h"

namespace nuv {

// What the watchdog's standard input was found to be at start-up.
struct StandardInputAtStart {
  enum class State {
    kUsable,    // present, and the system could tell its type
    kMissing,   // no standard input at all
    kUnusable,  // a value that names no handle of ours
  };
  State state = State::kUsable;
  std::uint32_t error = 0;  // with `kUnusable`: why the type could not be had
};

// Judges the watchdog's standard input as it is now. The program calls this
// before it opens any handle.
StandardInputAtStart examine_standard_input();

class ChildStandardInput {
 public:
  // `log` gets one line the first time the NUL device stands in.
  ChildStandardInput(StandardInputAtStart at_start, Log& log) : at_start_(at_start), log_(log) {}
  ChildStandardInput(const ChildStandardInput&) = delete;
  ChildStandardInput& operator=(const ChildStandardInput&) = delete;

  // An inheritable handle to pass as the next child's standard input, or
  // none: a duplicate of the watchdog's own when that was usable at
  // start-up, none when there was none, and the NUL device when it was
  // unusable or its duplicate fails, so that the tool still runs. Called
  // under the process creation lock.
  UniqueHandle for_child();

 private:
  UniqueHandle null_device_for_child(std::uint32_t why);

  const StandardInputAtStart at_start_;
  Log& log_;
  std::atomic<bool> substitute_logged_{false};  // the NUL device has been logged once
};

}  // namespace nuv
