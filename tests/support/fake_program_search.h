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

struct FakeProgramSearchSystem final : ProgramSearchSystem {
  std::set<std::u16string> files;
  std::optional<std::u16string> exe = u"C:\\Program Files\\NUV\\nuv-watchdog.exe";
  std::optional<std::u16string> system = u"C:\\Windows\\system32";
  std::optional<std::u16string> windows = u"C:\\Windows";
  std::optional<std::u16string> path = u"C:\\Tools;C:\\More Tools\\";
  std::map<std::u16string, std::u16string> full_paths;  // missing: the path itself
  std::vector<std::u16string> asked;

  bool exists(const std::u16string& p) override {
    asked.push_back(p);
    return files.count(p) > 0;
  }
  std::optional<std::u16string> executable_path() override { return exe; }
  Result<std::u16string, LaunchError> system_directory() override {
    if (!system) return unexpected(LaunchError::os_error(5, "Access is denied. (os error 5)"));
    return *system;
  }
  std::optional<std::u16string> windows_directory() override { return windows; }
  std::optional<std::u16string> path_variable() override { return path; }
  Result<std::u16string, LaunchError> full_path(const std::u16string& p) override {
    if (p == u"<bad>") return unexpected(LaunchError::os_error(123, "bad name (os error 123)"));
    const auto found = full_paths.find(p);
    return found == full_paths.end() ? p : found->second;
  }
};

}  // namespace nuv::test
