// The state recovery run: finds the client's journal, loads it with its meta
// record, has it rolled back, and hands back the error messages.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "state/system_state_store.h"

namespace nuv {

inline constexpr std::string_view kDataFolderName = "NUV Client";
inline constexpr std::string_view kStateFileName = "system_state.json";

// <APPDATA>\NUV Client: the client's data folder, which holds the journal.
std::string data_folder(std::string_view appdata);

struct StatePaths {
  std::string state;  // <APPDATA>\NUV Client\system_state.json
  std::string meta;   // the same with ".meta" appended
};
StatePaths state_paths(std::string_view appdata);

// What the run asks of the system.
struct StateRecoverySystem {
  // The value of APPDATA; empty when it is not set.
  std::function<std::optional<std::string>()> appdata;
  // The whole file's bytes; empty when it cannot be opened or read.
  std::function<std::optional<std::string>(const std::string& path)> read_file;
  std::function<void(const std::string& path)> remove_file;
  // Starts a runtime for this run alone, rolls the store back on it, shuts it
  // down and returns the error list; empty when the runtime cannot be made.
  std::function<std::optional<std::vector<std::string>>(SystemStateStore&)> roll_back;
};

// Absent when there is nothing to recover (no APPDATA, no readable, UTF-8,
// valid and non-empty journal) or the runtime could not be made; then neither
// file has been touched. Otherwise the rollback's messages, possibly none.
std::optional<std::vector<std::string>> recover_system_state(const StateRecoverySystem& system);

// The run on the real system.
std::optional<std::vector<std::string>> recover_system_state();

}  // namespace nuv
