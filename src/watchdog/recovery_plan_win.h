// The plan's questions answered by the real system.
#pragma once

#include "watchdog/recovery_plan.h"

namespace nuv {

PlanSystem windows_plan_system();

}  // namespace nuv
