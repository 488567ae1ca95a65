// The journal's and meta file's file operations for the portable tests: the
// files live in a map, every operation is logged, and the failures a test
// needs are switched on by the paths they hit.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "state/state_files.h"

namespace nuv::test {

struct MemoryStateFiles {
  std::map<std::string, std::string> files;
  // Every operation in order: "read <path>", "remove <path>", "write <path>",
  // "replace <from> <to>", "write in place <path>", and "padded <path> <size>"
  // once a write in place has padded the file to its old size. A test may add
  // its own events, to see what happens between them.
  std::vector<std::string> log;

  // What reading a path that is not there fails with.
  FileError missing{"not found (os error 2)", true};
  // Paths that are there but refuse to be read.
  std::set<std::string> unreadable;
  std::set<std::string> unwritable;  // paths whose write fails (after creating them empty)
  // Directories planted at these paths: no file can be written, removed or
  // renamed there.
  std::set<std::string> directories;
  bool rename_fails = false;
  // As when another process holds a file open without delete sharing: it
  // cannot be renamed over or deleted, and, without write sharing either,
  // not opened for writing.
  std::set<std::string> held_without_delete_sharing;
  std::set<std::string> held_without_write_sharing;
  bool in_place_write_fails = false;
  std::function<void(const std::string& path)> after_write;  // after each successful write

  Result<std::string, FileError> read(const std::string& path) {
    log.push_back("read " + path);
    const auto it = files.find(path);
    if (it == files.end()) return unexpected(missing);
    if (unreadable.count(path)) return unexpected(FileError{"refused (os error 5)", false});
    return it->second;
  }
  FileResult remove(const std::string& path) {
    log.push_back("remove " + path);
    if (directories.count(path)) return unexpected(kDirectory);
    if (held_without_delete_sharing.count(path)) return unexpected(refused("held"));
    if (files.erase(path) == 0) return unexpected(FileError{"not found (os error 2)", true});
    return {};
  }
  FileResult write(const std::string& path, std::string_view bytes) {
    log.push_back("write " + path);
    if (directories.count(path)) return unexpected(kDirectory);
    if (unwritable.count(path)) {
      files[path] = "";
      return unexpected(FileError{"disk full (os error 112)", false});
    }
    files[path] = std::string(bytes);
    if (after_write) after_write(path);
    return {};
  }
  FileResult replace(const std::string& from, const std::string& to) {
    log.push_back("replace " + from + " " + to);
    if (directories.count(from) || directories.count(to)) return unexpected(kDirectory);
    if (rename_fails || held_without_delete_sharing.count(to)) {
      return unexpected(refused("rename refused"));
    }
    if (!files.count(from)) return unexpected(FileError{"not found (os error 2)", true});
    files[to] = files[from];
    files.erase(from);
    return {};
  }
  Result<void, InPlaceError> write_in_place(const std::string& path, std::string_view bytes) {
    log.push_back("write in place " + path);
    const auto it = files.find(path);
    if (it == files.end()) return unexpected(InPlaceError{InPlaceStep::kOpen, "not found"});
    if (held_without_write_sharing.count(path)) {
      return unexpected(InPlaceError{InPlaceStep::kOpen, "open refused (os error 32)"});
    }
    if (bytes.size() > it->second.size()) {
      return unexpected(InPlaceError{InPlaceStep::kTooLong, {}});
    }
    if (in_place_write_fails) {
      it->second.replace(0, bytes.size() / 2, bytes.substr(0, bytes.size() / 2));
      return unexpected(InPlaceError{InPlaceStep::kWrite, "write failed (os error 1117)"});
    }
    it->second = std::string(bytes) + std::string(it->second.size() - bytes.size(), ' ');
    log.push_back("padded " + path + " " + std::to_string(it->second.size()));
    it->second.resize(bytes.size());
    return {};
  }

  // The operations, on this object: it must outlive what it hands out.
  StateFiles seam() {
    return StateFiles{
        .read = [this](const std::string& path) { return read(path); },
        .remove = [this](const std::string& path) { return remove(path); },
        .write = [this](const std::string& path,
                        std::string_view bytes) { return write(path, bytes); },
        .replace = [this](const std::string& from,
                          const std::string& to) { return replace(from, to); },
        .write_in_place = [this](const std::string& path,
                                 std::string_view bytes) { return write_in_place(path, bytes); },
    };
  }

  // The paths of one kind of logged operation ("read", "remove"), in order.
  [[nodiscard]] std::vector<std::string> paths(std::string_view operation) const {
    const std::string prefix = std::string(operation) + " ";
    std::vector<std::string> found;
    for (const auto& entry : log) {
      if (entry.starts_with(prefix)) found.push_back(entry.substr(prefix.size()));
    }
    return found;
  }

 private:
  inline static const FileError kDirectory{"a directory (os error 5)", false};
  static FileError refused(const std::string& what) { return {what + " (os error 32)", false}; }
};

}  // namespace nuv::test
