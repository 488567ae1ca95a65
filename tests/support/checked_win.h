// The support library's calls for the Windows tests, each failing the calling
// test on an error instead of handing it back.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "tools/support/files_win.h"
#include "tools/support/process_win.h"
#include "tools/support/text.h"

namespace nuv::test {

using support::exists;
using support::narrow;
using support::split_lines;
using support::StartedProcess;
using support::terminate_at;

// The folder of the running test program, with a trailing backslash; the
// programs under test are built beside it.
std::wstring program_folder();

// A path in the temporary folder that no other test uses.
std::wstring unique_temp_path(const std::wstring& stem);

// See support::environment_block.
std::wstring environment_block(const std::map<std::wstring, std::optional<std::wstring>>& changes);

// Starts a program with each output on a pipe of its own and no standard
// input, or the value `input`. A failure to start fails the calling test.
// `environment` is a whole environment block (see environment_block), else
// the child inherits ours.
StartedProcess start_captured(const std::wstring& program, const std::wstring& command_line,
                              const std::optional<std::wstring>& environment = std::nullopt,
                              const std::optional<std::wstring>& current_folder = std::nullopt,
                              HANDLE input = nullptr);

// Starts a program that inherits nothing.
StartedProcess start_plain(const std::wstring& program, const std::wstring& command_line);

std::string read_to_end(HANDLE from);
// Reads up to and including the first line feed.
std::string read_line(HANDLE from);

// Waits for the process to end and returns its exit code; a process still
// running after `timeout_ms` is terminated, and the test fails.
DWORD wait_for_exit(HANDLE process, DWORD timeout_ms = 60'000);

// Folders and copies, for test fixtures; see their namesakes in support::.
testing::AssertionResult make_folders(const std::wstring& path);
testing::AssertionResult copy_file(const std::wstring& from, const std::wstring& to);

// Whole files, for test fixtures. A file that cannot be read is absent, which
// a test may expect.
testing::AssertionResult write_file(const std::wstring& path, const std::string& bytes);
std::optional<std::string> read_file(const std::wstring& path);

}  // namespace nuv::test
