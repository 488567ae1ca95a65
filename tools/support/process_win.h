// Starting and watching processes for the tests, the benchmarks and the
// demonstration: one way to start a child, read its output and wait for it.
// Every failure comes back as a value; callers decide whether it is fatal.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/unique_handle_win.h"
#include "tools/support/win32_error_win.h"

namespace nuv::support {

// The folder of the running program, with a trailing backslash; the programs
// of the build sit beside it.
Win32Result<std::wstring> program_folder();

// This process's environment with some variables set (a value) or removed
// (no value), as a block for CreateProcessW; first, every variable whose name
// starts with one of `removed_prefixes` goes. Wine sets APPDATA, TEMP and TMP
// from its profile for a program started from Linux, but keeps what a parent
// hands over this way. Names are compared without regard to case.
Win32Result<std::wstring> environment_block(
    const std::map<std::wstring, std::optional<std::wstring>>& changes,
    const std::vector<std::wstring>& removed_prefixes = {});

// Where a child's standard output or error goes, when we set its handles.
enum class Output {
  kNone,  // no handle at all
  kPipe,  // a pipe of its own, whose read end the caller gets
  kOurs,  // this process's own
};

// Which handles a child gets.
enum class Handles {
  kNone,       // it inherits no handle, and we set none of its standard handles
  kInherited,  // it inherits every inheritable handle of ours, our standard ones among them
  kChosen,     // standard input, output and error as StartOptions says. Like
               // `kInherited`, it also inherits every other inheritable handle.
};

struct StartOptions {
  Handles handles = Handles::kNone;
  Output output = Output::kNone;  // with Handles::kChosen
  Output error = Output::kNone;   // with Handles::kChosen
  // A whole environment block (see environment_block), else the child gets ours.
  std::optional<std::wstring> environment;
  std::optional<std::wstring> current_folder;
  // The value of the child's standard input, with Handles::kChosen: none, or
  // whatever value a test wants the child to find, a handle or not.
  HANDLE input = nullptr;
};

// Standard input none, output and error as given.
inline StartOptions chosen(Output output, Output error,
                           std::optional<std::wstring> environment = std::nullopt,
                           std::optional<std::wstring> current_folder = std::nullopt) {
  return {Handles::kChosen,          output, error, std::move(environment),
          std::move(current_folder), nullptr};
}

// The usual choice of the tests: each output on a pipe of its own.
inline StartOptions captured(std::optional<std::wstring> environment = std::nullopt,
                             std::optional<std::wstring> current_folder = std::nullopt) {
  return chosen(Output::kPipe, Output::kPipe, std::move(environment), std::move(current_folder));
}

// Our standard handles and every other inheritable one.
inline StartOptions inheriting(std::optional<std::wstring> environment = std::nullopt) {
  return {Handles::kInherited,    Output::kNone, Output::kNone,
          std::move(environment), std::nullopt,  nullptr};
}

struct StartedProcess {
  UniqueHandle process;
  DWORD pid = 0;
  UniqueFileHandle stdout_read;  // read ends of the child's pipes, when asked for
  UniqueFileHandle stderr_read;
};

// Starts `program` with `command_line` (its argument zero included). Wine now
// and then fails a process creation with ERROR_INTERNAL_ERROR for no fault of
// the caller: such a start is made again, up to three times in all.
Win32Result<StartedProcess> start_process(const std::wstring& program,
                                          const std::wstring& command_line,
                                          const StartOptions& options = {});

// Reads to the end: the writer's last handle closed (a pipe) or the end of a
// file. Any other failure of a read is an error.
Win32Result<std::string> read_to_end(HANDLE from);

// Reads up to and including the first line feed; at the end, what there was.
Win32Result<std::string> read_line(HANDLE from);

// Waits up to `timeout_ms` for the process to end and returns its exit code.
// A process still running is an error (WAIT_TIMEOUT) and is left running.
Win32Result<DWORD> wait_for_exit(HANDLE process, DWORD timeout_ms = INFINITE);

// Terminates the process with `exit_code` at `when`, to the microsecond as
// near as the system allows, unless it has ended before. Does not wait for it.
void terminate_at(HANDLE process, std::chrono::steady_clock::time_point when, DWORD exit_code);

}  // namespace nuv::support
