// The file operations on the journal and its meta file: reading them for the
// recovery, and replacing or deleting them once the undos are done.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace nuv {

// Why a file operation failed, so that the log can tell what is on disk.
struct FileError {
  std::string text;        // the system's words: "<message> (os error <n>)"
  bool not_found = false;  // no such file or folder
  bool operator==(const FileError&) const = default;
};
using FileResult = Result<void, FileError>;

// Why a write in place did not happen, or did not finish.
enum class InPlaceStep {
  kOpen,     // the file could not be opened for writing: nothing was written
  kTooLong,  // the new bytes are longer than the file: nothing was written
  kWrite,    // the write or its flush failed: the file may hold part of the new bytes
};
struct InPlaceError {
  InPlaceStep step = InPlaceStep::kOpen;
  std::string text;  // the system's words; empty for kTooLong
  bool operator==(const InPlaceError&) const = default;
};

// Each operation reports success or why not; callers choose what to do next
// from it and never stop for a failure.
struct StateFiles {
  // The whole file, or why it could not be opened or read.
  std::function<Result<std::string, FileError>(const std::string& path)> read;
  std::function<FileResult(const std::string& path)> remove;
  // Creates or truncates the file, writes all bytes and flushes them to disk.
  std::function<FileResult(const std::string& path, std::string_view bytes)> write;
  // Renames `from` to `to`, replacing a file already there, through to disk.
  std::function<FileResult(const std::string& from, const std::string& to)> replace;
  // Writes `bytes` over an existing file without ever making it shorter
  // first, for when it cannot be replaced: opens it for writing, sharing
  // read, write and delete with whoever holds it, and only when `bytes` are
  // no longer than the file writes them padded with spaces to its length in
  // one call, flushes, and then ends the file after `bytes`. A crash between
  // the two leaves the new text followed by white space, which the journal
  // reader takes. A file that could not be shortened afterwards still holds
  // the new text and its padding, and counts as written.
  std::function<Result<void, InPlaceError>(const std::string& path, std::string_view bytes)>
      write_in_place;
};

// Whether the file at `path` can be read and holds exactly `bytes`: a journal
// that no longer does has been taken over by the client.
inline bool file_holds(const StateFiles& files, const std::string& path, std::string_view bytes) {
  const auto now = files.read(path);
  return now && *now == bytes;
}

}  // namespace nuv
