// How a run's time limit appears in a message.
#pragma once

#include <chrono>
#include <string>

namespace nuv {

// "120 s" or "250 ms": whole seconds in seconds, anything else in
// milliseconds.
inline std::string describe_duration(std::chrono::milliseconds duration) {
  const auto ms = duration.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

}  // namespace nuv
