// Starting and watching real processes in the Windows tests.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace nuv::test {

// The folder of the running test program, with a trailing backslash; the
// programs under test are built beside it.
std::wstring program_folder();

// A path in the temporary folder that no other test uses.
std::wstring unique_temp_path(const std::wstring& stem);

struct StartedProcess {
  UniqueHandle process;
  DWORD pid = 0;
  UniqueFileHandle stdout_read;  // read ends of the child's output pipes
  UniqueFileHandle stderr_read;
};

// Starts a program with no standard input and each output on a pipe of its
// own. A failure to start fails the calling test. `environment` is a whole
// environment block (see environment_block), else the child inherits ours.
StartedProcess start_captured(const std::wstring& program, const std::wstring& command_line,
                              const std::optional<std::wstring>& environment = std::nullopt,
                              const std::optional<std::wstring>& current_folder = std::nullopt);

// This process's environment with some variables set (a value) or removed
// (no value), as a block for CreateProcessW. Wine sets APPDATA, TEMP and TMP
// from its profile for a program started from Linux, but keeps what a parent
// hands over this way.
std::wstring environment_block(const std::map<std::wstring, std::optional<std::wstring>>& changes);

// Starts a program that inherits nothing.
StartedProcess start_plain(const std::wstring& program, const std::wstring& command_line);

std::string read_to_end(HANDLE pipe);
// Reads up to and including the first line feed.
std::string read_line(HANDLE pipe);

// Waits for the process to end and returns its exit code; a process still
// running after `timeout_ms` is terminated, and the test fails.
DWORD wait_for_exit(HANDLE process, DWORD timeout_ms = 60'000);

// Terminates the process with `exit_code` at `when`, to the microsecond as
// near as the system allows, unless it has ended before. Does not wait for it.
void terminate_at(HANDLE process, std::chrono::steady_clock::time_point when, DWORD exit_code);

std::string narrow(const std::wstring& wide);

// The lines of a text, each without its line feed.
std::vector<std::string> split_lines(const std::string& text);

// Whole files, for test fixtures.
bool write_file(const std::wstring& path, const std::string& bytes);
std::optional<std::string> read_file(const std::wstring& path);

}  // namespace nuv::test
