// Files and folders for the tests, the benchmarks and the demonstration:
// scratch folders, unique temporary paths and whole-file reads and writes.
#pragma once

#include <string>
#include <utility>

#include "common/unique_resource.h"
#include "tools/support/win32_error_win.h"

namespace nuv::support {

// The system's temporary folder, with a trailing backslash.
Win32Result<std::wstring> temp_folder();

// A path in the temporary folder that nothing else uses, ending in `stem`.
Win32Result<std::wstring> unique_temp_path(const std::wstring& stem);

bool exists(const std::wstring& path);

// Makes a folder and any of its parents that are missing; one already there
// is fine.
Win32Result<void> make_folders(const std::wstring& path);

// Removes a file, or a folder with everything in it. It goes on past what it
// cannot remove (a file a running process holds) and reports the first such
// failure. A path that is not there is fine.
Win32Result<void> remove_tree(const std::wstring& path);

// Copies a file over any file of that name.
Win32Result<void> copy_file(const std::wstring& from, const std::wstring& to);

// Whole files. The read fails, rather than meet half a line, while another
// process has the file open for writing, unless `share` allows writers.
Win32Result<void> write_file(const std::wstring& path, const std::string& bytes);
Win32Result<std::string> read_file(const std::wstring& path, DWORD share = FILE_SHARE_READ);

// Removes the folder at the path with everything in it (see remove_tree).
struct FolderTreeTraits {
  using Pointer = std::wstring;
  static Pointer invalid() { return {}; }
  static void close(const Pointer& path) { (void)remove_tree(path); }
};

// A folder of one's own, removed with everything in it when its owner goes.
// What a still-running process holds stays behind.
class ScratchFolder {
 public:
  // At `path`, made afresh: whatever an earlier run left there goes first, as
  // Wine hands out the same process ids run after run.
  static Win32Result<ScratchFolder> make(std::wstring path);
  // At a unique path in the temporary folder (see unique_temp_path).
  static Win32Result<ScratchFolder> make_unique(const std::wstring& stem);

  const std::wstring& path() const { return folder_.get(); }
  // A path inside the folder.
  std::wstring operator/(const std::wstring& name) const { return path() + L"\\" + name; }

 private:
  explicit ScratchFolder(std::wstring path) : folder_(std::move(path)) {}

  UniqueResource<FolderTreeTraits> folder_;
};

}  // namespace nuv::support
