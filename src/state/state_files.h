// The file operations on the journal and its meta file: reading them for the
// recovery, and replacing or deleting them once the undos are done.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace nuv {

// Each operation reports success; callers choose what to do next from it and
// never stop for a failure.
struct StateFiles {
  // The whole file; absent when it cannot be opened or read.
  std::function<std::optional<std::string>(const std::string& path)> read;
  std::function<bool(const std::string& path)> remove;
  // Creates or truncates the file, writes all bytes and flushes them to disk.
  std::function<bool(const std::string& path, std::string_view bytes)> write;
  // Renames `from` to `to`, replacing a file already there, through to disk.
  std::function<bool(const std::string& from, const std::string& to)> replace;
  // Why the last read that came back absent failed, in a few words. Not set:
  // no reason is given.
  std::function<std::string()> read_error;
  // True when the last read that came back absent found no such file or
  // folder, rather than a file it could not read. Not set: never.
  std::function<bool()> read_found_nothing;
};

}  // namespace nuv
