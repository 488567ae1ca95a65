#include "state/state_recovery.h"

#include "common/path.h"
#include "common/utf.h"
#include "state/journal_format.h"

namespace nuv {

std::string data_folder(std::string_view appdata) { return join_path(appdata, kDataFolderName); }

StatePaths state_paths(std::string_view appdata) {
  std::string state = join_path(data_folder(appdata), kStateFileName);
  std::string meta = state + ".meta";
  return {std::move(state), std::move(meta)};
}

std::optional<std::vector<std::string>> recover_system_state(const StateRecoverySystem& system) {
  const auto appdata = system.appdata();
  if (!appdata) return std::nullopt;
  auto paths = state_paths(*appdata);

  const auto text = system.read_file(paths.state);
  if (!text || !is_valid_utf8(*text)) return std::nullopt;
  auto changes = parse_journal(*text);
  if (!changes || changes->empty()) return std::nullopt;

  SystemStateMeta meta;
  if (const auto meta_text = system.read_file(paths.meta); meta_text && is_valid_utf8(*meta_text)) {
    meta = parse_meta(*meta_text).value_or(SystemStateMeta{});
  }

  SystemStateStore store;
  store.state_path = paths.state;
  store.meta_path = paths.meta;
  store.changes = std::move(*changes);
  store.meta = meta;

  auto errors = system.roll_back(store);
  if (!errors) return std::nullopt;
  // The engine has normally deleted it already.
  if (errors->empty()) system.remove_file(paths.state);
  return errors;
}

}  // namespace nuv
