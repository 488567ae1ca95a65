// The program search's questions answered by the running system.
#pragma once

#include "platform/process/program_search.h"

namespace nuv {

ProgramSearchSystem windows_program_search();

}  // namespace nuv
