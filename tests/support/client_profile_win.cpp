#include "support/client_profile_win.h"

#include <utility>

#include "common/path.h"
#include "state/state_paths.h"
#include "support/checked_win.h"
#include "tools/support/text.h"
#include "watchdog/log_files.h"

namespace nuv::test {

ClientProfile::ClientProfile(std::wstring appdata) : appdata_(std::move(appdata)) {
  const std::string appdata_utf8 = narrow(appdata_);
  const std::string data = nuv::data_folder(appdata_utf8);
  const StatePaths paths = state_paths(appdata_utf8);
  data_folder_ = support::widen(data);
  journal_ = support::widen(paths.state);
  meta_ = support::widen(paths.meta);
  log_ = support::widen(join_path(data, kLogFileName));
  old_log_ = support::widen(join_path(data, kOldLogFileName));
}

testing::AssertionResult ClientProfile::make(bool with_data_folder) const {
  return make_folders(with_data_folder ? data_folder_ : appdata_);
}

testing::AssertionResult ClientProfile::write_journal(const std::string& text) const {
  return write_file(journal_, text);
}

testing::AssertionResult install_stand_in_tools(const std::wstring& folder,
                                                const std::vector<const wchar_t*>& tools) {
  for (const wchar_t* tool : tools) {
    auto copied =
        copy_file(program_folder() + L"nuv-stand-in-tool.exe", folder + L"\\" + tool + L".exe");
    if (!copied) return copied;
  }
  return write_file(folder + L"\\answers.txt", "");
}

}  // namespace nuv::test
