// nuv-watchdog <parent_pid> <clean_flag_path>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/wintun/orphan_cleanup_win.h"
#include "state/state_recovery.h"
#include "watchdog/message_sink_win.h"
#include "watchdog/monitor.h"
#include "watchdog/monitor_system_win.h"
#include "watchdog/recovery.h"

// Arguments are taken as given: no wildcard expansion by the C runtime.
extern "C" {
int _dowildcard = 0;
}

int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.emplace_back(argv[i], argv[i] + std::wcslen(argv[i]));
  }
  nuv::StandardErrorSink sink;
  const nuv::RecoverySteps steps{
      .clean_wintun_orphans = nuv::clean_wintun_orphans,
      .recover_system_state = [] { return nuv::recover_system_state(); },
  };
  return nuv::watchdog_main(arguments, nuv::system_monitor_seams(), sink,
                            [&] { nuv::run_recovery(sink, steps); });
}
