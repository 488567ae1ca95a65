// A program search system answered from a table, which records every path
// the search asked about.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/process/program_search.h"

namespace nuv::test {

struct FakeProgramSearchSystem {
  std::set<std::u16string> files;
  std::optional<std::u16string> exe = u"C:\\Program Files\\NUV\\nuv-watchdog.exe";
  std::optional<std::u16string> system = u"C:\\Windows\\system32";
  std::optional<std::u16string> windows = u"C:\\Windows";
  std::optional<std::u16string> path = u"C:\\Tools;C:\\More Tools\\";
  std::map<std::u16string, std::u16string> full_paths;  // missing: the path itself
  std::vector<std::u16string> asked;

  bool exists(const std::u16string& p) {
    asked.push_back(p);
    return files.count(p) > 0;
  }
  // An answer left out of the table is one the system refused.
  static Result<std::u16string, LaunchError> answer(const std::optional<std::u16string>& given) {
    if (!given) return unexpected(LaunchError::os_error(5, "Access is denied. (os error 5)"));
    return *given;
  }
  Result<std::u16string, LaunchError> executable_path() { return answer(exe); }
  Result<std::u16string, LaunchError> system_directory() { return answer(system); }
  Result<std::u16string, LaunchError> windows_directory() { return answer(windows); }
  Result<std::u16string, LaunchError> path_variable() { return answer(path); }
  Result<std::u16string, LaunchError> full_path(const std::u16string& p) {
    if (p == u"<bad>") return unexpected(LaunchError::os_error(123, "bad name (os error 123)"));
    const auto found = full_paths.find(p);
    return found == full_paths.end() ? p : found->second;
  }

  // The seam the search is given: each question answered from the table above.
  // Implicit, so that a test hands the fake wherever the real system goes.
  // NOLINTNEXTLINE(google-explicit-constructor)
  operator ProgramSearchSystem() {
    return ProgramSearchSystem{
        .exists = [this](const std::u16string& p) { return exists(p); },
        .executable_path = [this] { return executable_path(); },
        .system_directory = [this] { return system_directory(); },
        .windows_directory = [this] { return windows_directory(); },
        .path_variable = [this] { return path_variable(); },
        .full_path = [this](const std::u16string& p) { return full_path(p); },
    };
  }
};

}  // namespace nuv::test
