#include "state/state_paths.h"

#include <utility>

#include "common/path.h"

namespace nuv {

std::string data_folder(std::string_view appdata) { return join_path(appdata, kDataFolderName); }

StatePaths state_paths(std::string_view appdata) {
  std::string state = join_path(data_folder(appdata), kStateFileName);
  std::string meta = state + ".meta";
  return {std::move(state), std::move(meta)};
}

}  // namespace nuv
