// The watchdog's log files in the client's data folder, and how much a run
// may write to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nuv {

inline constexpr std::string_view kLogFileName = "nuv-watchdog.log";
inline constexpr std::string_view kOldLogFileName = "nuv-watchdog.log.1";

// A log this large or larger is set aside as the old log before a run's first
// line, so that each of the two files holds less than this and one run's
// lines (under 5 MiB: the detail budget, the messages, one cut if need be).
inline constexpr std::uint64_t kLogRotationSize = std::uint64_t{1024} * 1024;

// What one run may write in detail lines, stamps included (the messages are
// always logged).
inline constexpr std::size_t kDetailLogBudget = std::size_t{1024} * 1024;

}  // namespace nuv
