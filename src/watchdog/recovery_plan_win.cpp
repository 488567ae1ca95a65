#include "watchdog/recovery_plan_win.h"

#include <string>

#include "common/environment_win.h"
#include "common/utf.h"
#include "platform/process/program_search.h"
#include "platform/process/program_search_system_win.h"
#include "state/state_files_win.h"

namespace nuv {

PlanSystem windows_plan_system() {
  return PlanSystem{
      .appdata = [] { return environment_variable(L"APPDATA"); },
      .files = windows_state_files(),
      .resolve_program = [](const std::string& program) -> Result<std::string, std::string> {
        auto resolved = resolve_program(program, windows_program_search());
        if (!resolved) return unexpected(std::move(resolved.error().text));
        auto utf8 = utf16_to_utf8(*resolved);
        if (!utf8) return unexpected(std::string(kNotUnicodeText));
        return std::move(*utf8);
      },
  };
}

}  // namespace nuv
