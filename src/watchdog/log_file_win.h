// The log file "nuv-watchdog.log" in the client's data folder.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/log.h"
#include "common/unique_handle_win.h"

namespace nuv {

// Lines written before the log can be opened are held up to this many bytes:
// enough for the monitoring line and the start of a recovery, little enough
// to hold for a day.
inline constexpr std::size_t kHeldLogBytes = std::size_t{64} * 1024;

// The most one WriteFile is handed, well within what its DWORD count holds.
inline constexpr std::size_t kLogWriteChunk = std::size_t{1} << 30;

// Opened at the first line that finds the folder there: the watchdog never
// creates the client's folder, and a run that writes no line (a usage error)
// leaves no file. A client that makes its folder after starting us (its
// first connection ever) gets the log from then on, with the lines before it:
// until the open succeeds, each line tries it again, and the lines are held
// whole, the first ones first, up to kHeldLogBytes; from the first line that
// does not fit on, every line is dropped and the log says how many. Just
// before the log is opened, a log of 1 MiB or more becomes
// "nuv-watchdog.log.1". Each line is appended through a handle that others
// may share for reading, writing and deleting, so that two watchdogs can
// append at once and an editor can keep it open. Every failure is ignored.
class LogFile final : public Log {
 public:
  // No folder: nothing is ever written. `write_chunk` is the most handed to
  // one write; tests make it small.
  explicit LogFile(const std::optional<std::string>& folder,
                   std::size_t write_chunk = kLogWriteChunk);
  void write(std::string_view text) override;

 private:
  // The folder and its two logs, as the system takes them.
  struct Paths {
    std::wstring folder, log, old_log;
  };

  bool open_locked();
  void append_locked(std::string_view bytes) const;

  bool has_folder_;
  // Absent for a folder that is not UTF-8: the log then never opens.
  std::optional<Paths> paths_;
  std::size_t write_chunk_;
  std::mutex mutex_;  // lines may come from more than one thread
  UniqueFileHandle file_;
  std::string held_;         // whole lines waiting for the log to open
  std::size_t dropped_ = 0;  // the first line that did not fit in held_, and all after it
};

}  // namespace nuv
