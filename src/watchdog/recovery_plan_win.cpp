#include "watchdog/recovery_plan_win.h"

#include <string>

#include "common/environment_win.h"
#include "common/os_error.h"
#include "platform/process/child_start_win.h"
#include "platform/process/program_search_system_win.h"
#include "platform/rollback/read_back_win.h"
#include "state/state_files_win.h"

namespace nuv {

PlanSystem windows_plan_system() {
  return PlanSystem{
      .appdata = [] { return environment_variable(L"APPDATA"); },
      .files = windows_state_files(),
      .program_search = windows_program_search(),
      .check_application =
          [](const std::u16string& application) { return check_application(application); },
      .out_of_memory_text = os_error_text(kOutOfMemoryError),
      .read_back = [system = windows_read_back_system()](
                       const SystemChange& change) { return read_back_change(change, system); },
  };
}

}  // namespace nuv
