// Why a command could not be run to its end.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "common/os_error.h"

namespace nuv {

enum class LaunchErrorKind {
  kNotFound,      // a bare program name found in no candidate folder
  kInvalidInput,  // the request itself cannot be turned into a process
  kOsError,       // the system refused (from_os); `os_code` holds its error code
  kTimedOut,      // the child did not exit before the deadline
};

struct LaunchError {
  LaunchErrorKind kind = LaunchErrorKind::kInvalidInput;
  std::uint32_t os_code = 0;  // only for kOsError
  std::string text;           // the display text, ready for a message
  // The program as resolved (UTF-8), once the search has found it; for the
  // log only.
  std::string program_path;

  static LaunchError not_found(std::string text) {
    return {LaunchErrorKind::kNotFound, 0, std::move(text), {}};
  }
  static LaunchError invalid_input(std::string text) {
    return {LaunchErrorKind::kInvalidInput, 0, std::move(text), {}};
  }
  // A refusal with a text of the caller's: a fake's, where the system's
  // words are not to be had. The program's own refusals come from from_os.
  static LaunchError os_error(std::uint32_t code, std::string text) {
    return {LaunchErrorKind::kOsError, code, std::move(text), {}};
  }
  // The system's refusal with its own display text.
  static LaunchError from_os(std::uint32_t code) { return os_error(code, os_error_text(code)); }
  static LaunchError from_os(OsError error) { return from_os(error.code); }
  static LaunchError timed_out(std::string text) {
    return {LaunchErrorKind::kTimedOut, 0, std::move(text), {}};
  }
};

// The fixed texts of the failures that are ours rather than the system's.
inline constexpr const char* kNoFileNameText = "program path has no file name";
inline constexpr const char* kProgramNotFoundText = "program not found";
inline constexpr const char* kNulInDataText = "nul byte found in provided data";
inline constexpr const char* kNulInPathText = "strings passed to WinAPI cannot contain NULs";
inline constexpr const char* kNotUnicodeText = "strings passed to WinAPI must be valid Unicode";
inline constexpr const char* kBadBatchPathText =
    "Windows file names may not contain `\"` or end with `\\`";
inline constexpr const char* kBadBatchArgumentText = "batch file arguments are invalid";

}  // namespace nuv
