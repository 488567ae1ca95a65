#include "watchdog/message_sink_win.h"

#include <cstddef>
#include <string>
#include <string_view>

#include "common/win32.h"
#include "common/wide.h"
#include "watchdog/console_chunks.h"
#include "watchdog/write_deadline_win.h"

namespace nuv {
namespace {

enum class Written { kAll, kFailed, kCancelled };

// Each chunk of a line, checked against the deadline before it is begun.
class ChunkWriter {
 public:
  ChunkWriter(const WriteDeadline& deadline, const BeforeChunk& before_chunk)
      : deadline_(deadline), before_chunk_(before_chunk) {}

  // Whether the next chunk may be begun.
  bool may_begin() {
    if (deadline_.passed()) return false;
    if (before_chunk_) before_chunk_(next_++);
    return true;
  }

  Written failure() const {
    return ::GetLastError() == ERROR_OPERATION_ABORTED || deadline_.passed() ? Written::kCancelled
                                                                             : Written::kFailed;
  }

 private:
  const WriteDeadline& deadline_;
  const BeforeChunk& before_chunk_;
  std::size_t next_ = 0;
};

Written write_console(HANDLE console, std::string_view text, ChunkWriter& chunks) {
  const auto wide = to_wide(text);
  if (!wide) return Written::kFailed;
  const wchar_t* data = wide->data();
  std::size_t left = wide->size();
  while (left > 0) {
    if (!chunks.may_begin()) return Written::kCancelled;
    const std::size_t chunk = console_chunk_length(data, left, kConsoleChunkUnits);
    DWORD written = 0;
    if (!::WriteConsoleW(console, data, static_cast<DWORD>(chunk), &written, nullptr)) {
      return chunks.failure();
    }
    if (written == 0) return Written::kFailed;
    data += written;
    left -= written;
  }
  return Written::kAll;
}

Written write_bytes(HANDLE file, std::string_view text, ChunkWriter& chunks) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    if (!chunks.may_begin()) return Written::kCancelled;
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(left < 0x10000 ? left : 0x10000);
    if (!::WriteFile(file, data, chunk, &written, nullptr)) return chunks.failure();
    if (written == 0) return Written::kFailed;
    data += written;
    left -= written;
  }
  return Written::kAll;
}

}  // namespace

void StandardStreamSink::write_line(std::string_view line) {
  if (stalled_) return;
  const HANDLE handle =
      ::GetStdHandle(stream_ == StandardStream::kError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;

  std::string text(line);
  text += '\n';
  const WriteDeadline deadline(write_limit_);
  ChunkWriter chunks(deadline, before_chunk_);
  DWORD mode = 0;
  const bool console = ::GetConsoleMode(handle, &mode) != 0;
  // A GetConsoleMode that hung past the limit was cancelled, and its "not a
  // console" means nothing: no write follows it.
  Written written = Written::kCancelled;
  if (!deadline.passed()) {
    written = console ? write_console(handle, text, chunks) : write_bytes(handle, text, chunks);
  }
  // A reader that stalled once is not waited for again: every later line
  // would cost the full limit.
  if (written == Written::kCancelled) stalled_ = true;
}

}  // namespace nuv
