// Where the client keeps its journal: the data folder under APPDATA, the
// journal in it and the meta file beside the journal.
#pragma once

#include <string>
#include <string_view>

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

}  // namespace nuv
