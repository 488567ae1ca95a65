#include "state/state_files_win.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/unique_handle_win.h"
#include "common/wide.h"

namespace nuv {

namespace {

// Takes the code, rather than reading GetLastError itself, so that each
// caller reads it on the line of the call that failed and nothing between
// the two can replace it.
FileError file_error(DWORD code) {
  return {os_error_text(code), code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND};
}

// A path that is not UTF-8 names no file the journal could be at.
FileError unconvertible() { return {os_error_text(ERROR_INVALID_NAME), false}; }

FileResult remove_file(const std::string& path) {
  const auto wide = to_wide(path);
  if (!wide) return unexpected(unconvertible());
  if (!::DeleteFileW(wide->c_str())) return unexpected(file_error(::GetLastError()));
  return {};
}

FileResult write_file(const std::string& path, std::string_view bytes) {
  const auto wide = to_wide(path);
  if (!wide) return unexpected(unconvertible());
  const UniqueFileHandle file(::CreateFileW(wide->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return unexpected(file_error(::GetLastError()));
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), chunk, &written, nullptr)) {
      return unexpected(file_error(::GetLastError()));
    }
    if (written == 0) return unexpected(FileError{os_error_text(ERROR_WRITE_FAULT), false});
    bytes.remove_prefix(written);
  }
  // On disk before anyone renames it over the file it replaces.
  if (!::FlushFileBuffers(file.get())) return unexpected(file_error(::GetLastError()));
  return {};
}

FileResult replace_file(const std::string& from, const std::string& to) {
  const auto wide_from = to_wide(from);
  const auto wide_to = to_wide(to);
  if (!wide_from || !wide_to) return unexpected(unconvertible());
  if (!::MoveFileExW(wide_from->c_str(), wide_to->c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return unexpected(file_error(::GetLastError()));
  }
  return {};
}

InPlaceError in_place_error(InPlaceStep step, DWORD code) { return {step, os_error_text(code)}; }

Result<void, InPlaceError> write_in_place(const std::string& path, std::string_view bytes) {
  const auto wide = to_wide(path);
  if (!wide) return unexpected(InPlaceError{InPlaceStep::kOpen, os_error_text(ERROR_INVALID_NAME)});
  // Whoever keeps the journal from being replaced (a scanner, a relaunched
  // client) may still let it be written, if we let them go on reading,
  // writing and deleting it.
  const UniqueFileHandle file(::CreateFileW(
      wide->c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return unexpected(in_place_error(InPlaceStep::kOpen, ::GetLastError()));
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) {
    return unexpected(in_place_error(InPlaceStep::kOpen, ::GetLastError()));
  }
  if (static_cast<std::uint64_t>(size.QuadPart) < bytes.size()) {
    return unexpected(InPlaceError{InPlaceStep::kTooLong, {}});
  }
  // One call, so that the padded text goes to disk as one piece.
  if (size.QuadPart > static_cast<LONGLONG>(MAXDWORD)) {
    return unexpected(InPlaceError{InPlaceStep::kOpen, os_error_text(ERROR_FILE_TOO_LARGE)});
  }
  std::string padded(bytes);
  padded.resize(static_cast<std::size_t>(size.QuadPart), ' ');
  DWORD written = 0;
  if (!::WriteFile(file.get(), padded.data(), static_cast<DWORD>(padded.size()), &written,
                   nullptr)) {
    return unexpected(in_place_error(InPlaceStep::kWrite, ::GetLastError()));
  }
  if (written != padded.size()) {
    return unexpected(InPlaceError{InPlaceStep::kWrite, os_error_text(ERROR_WRITE_FAULT)});
  }
  if (!::FlushFileBuffers(file.get())) {
    return unexpected(in_place_error(InPlaceStep::kWrite, ::GetLastError()));
  }
  // Only now shorter: a crash before this leaves white space after the new
  // text, never a cut. A failure leaves that padding, which reads the same.
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(bytes.size());
  if (::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get())) {
    ::FlushFileBuffers(file.get());
  }
  return {};
}

}  // namespace

StateFiles windows_state_files() {
  return StateFiles{
      .read = read_whole_file,
      .remove = remove_file,
      .write = write_file,
      .replace = replace_file,
      .write_in_place = write_in_place,
  };
}

Result<std::string, FileError> read_whole_file(const std::string& path) {
  // The conversion calls no system function: the thread's last error would
  // be some earlier call's.
  const auto wide = to_wide(path);
  if (!wide) return unexpected(unconvertible());
  // The client may hold its journal open for writing while we read it, and
  // may open, write or delete it while we do: our reading must not be what
  // fails the client's write. A rename over a file that anyone holds open can
  // still fail for the moment; the client retries it.
  const UniqueFileHandle file(::CreateFileW(
      wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return unexpected(file_error(::GetLastError()));
  std::string bytes;
  char buffer[64 * 1024];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      return unexpected(file_error(::GetLastError()));
    }
    if (got == 0) return bytes;
    bytes.append(buffer, got);
  }
}

}  // namespace nuv
