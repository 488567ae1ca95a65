// nuv-watchdog <parent_pid> <clean_flag_path>
#include <cwchar>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/environment_win.h"
#include "common/log.h"
#include "common/log_line.h"
#include "platform/wintun/orphan_cleanup_win.h"
#include "state/state_recovery.h"
#include "watchdog/log_file_win.h"
#include "watchdog/logged_sink.h"
#include "watchdog/message_sink_win.h"
#include "watchdog/monitor.h"
#include "watchdog/monitor_system_win.h"
#include "watchdog/recovery.h"
#include "watchdog/system_state_recovery_win.h"

// Arguments are taken as given: no wildcard expansion by the C runtime.
extern "C" {
int _dowildcard = 0;
}

int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.emplace_back(argv[i], argv[i] + std::wcslen(argv[i]));
  }
  nuv::StandardErrorSink standard_error;
  // The log lives beside the journal, found the same way.
  std::optional<std::string> folder;
  if (const auto appdata = nuv::environment_variable(L"APPDATA")) {
    folder = nuv::data_folder(*appdata);
  }
  nuv::LogFile log(std::move(folder));
  nuv::LoggedSink sink(standard_error, log);
  nuv::BudgetedLog details(log, nuv::kDetailLogBudget);
  const nuv::RecoverySteps steps{
      .clean_wintun_orphans = [&details] { return nuv::clean_wintun_orphans(details); },
      .recover_system_state = [&details] { return nuv::recover_system_state(details); },
  };
  return nuv::watchdog_main(arguments, nuv::windows_monitor_system(), standard_error, sink,
                            [&] { nuv::run_recovery(sink, steps); });
}
