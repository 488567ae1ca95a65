// The log file "nuv-watchdog.log" in the client's data folder.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/log.h"
#include "common/unique_handle.h"

namespace nuv {

// Opened at the first line, and only when the folder exists: the watchdog
// never creates the client's folder, and a run that writes no line (a usage
// error) leaves no file. Before that first line, a log of 1 MiB or more
// becomes "nuv-watchdog.log.1". Each line is appended with a single write
// through a handle that others may share for reading, writing and deleting,
// so that two watchdogs can append at once and an editor can keep it open.
// Every failure is ignored.
class LogFile final : public Log {
 public:
  // No folder: nothing is ever written.
  explicit LogFile(std::optional<std::string> folder) : folder_(std::move(folder)) {}
  void write(std::string_view text) override;

 private:
  void open_locked();

  std::optional<std::string> folder_;
  std::mutex mutex_;  // lines may come from more than one thread
  bool opened_ = false;
  UniqueFileHandle file_;
};

}  // namespace nuv
