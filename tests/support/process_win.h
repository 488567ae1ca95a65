// Starting and watching real processes in the Windows tests.
#pragma once

#include <string>

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
// own. A failure to start fails the calling test.
StartedProcess start_captured(const std::wstring& program, const std::wstring& command_line);

// Starts a program that inherits nothing.
StartedProcess start_plain(const std::wstring& program, const std::wstring& command_line);

std::string read_to_end(HANDLE pipe);
// Reads up to and including the first line feed.
std::string read_line(HANDLE pipe);

// Waits for the process to end and returns its exit code; a process still
// running after `timeout_ms` is terminated, and the test fails.
DWORD wait_for_exit(HANDLE process, DWORD timeout_ms = 60'000);

std::string narrow(const std::wstring& wide);

}  // namespace nuv::test
