// The Wintun library, loaded at run time with all its entry points bound, and
// its diagnostics made silent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "common/win32.h"
#include "common/result.h"
#include "common/unique_handle_win.h"

namespace nuv {

enum class WintunErrorKind { LoadFailed, EntryPointMissing, Message, SystemError };

struct WintunError {
  WintunErrorKind kind = WintunErrorKind::Message;
  std::optional<std::uint32_t> code;  // the system's error or status code, when it gave one
  std::string text;
};

using WintunAdapterHandle = void*;
using WintunLoggerCallback = void(CALLBACK*)(int level, DWORD64 timestamp, const wchar_t* message);

class WintunLibrary {
 public:
  // Loads "wintun" from the watchdog's own folder, else the system folder:
  // never from the current folder or PATH, where anyone could plant a DLL
  // that would then run with the rights to change the network settings.
  static Result<std::shared_ptr<const WintunLibrary>, WintunError> load();

  // Every entry point, in binding order.
  enum class Entry : std::size_t {
    kCreateAdapter,
    kCloseAdapter,
    kOpenAdapter,
    kGetAdapterLuid,
    kGetRunningDriverVersion,
    kDeleteDriver,
    kSetLogger,
    kStartSession,
    kEndSession,
    kGetReadWaitEvent,
    kReceivePacket,
    kReleaseReceivePacket,
    kAllocateSendPacket,
    kSendPacket,
  };
  static constexpr std::size_t kEntryCount = static_cast<std::size_t>(Entry::kSendPacket) + 1;
  using EntryPoints = std::array<FARPROC, kEntryCount>;

  WintunLibrary(UniqueModule module, const EntryPoints& entries)
      : module_(std::move(module)), entries_(entries) {}

  WintunAdapterHandle open_adapter(const wchar_t* name) const;
  void close_adapter(WintunAdapterHandle adapter) const;
  // Installs the silent logger, once per process whichever library asks
  // first: Wintun keeps one logger for the process.
  void silence_logger_once() const;

 private:
  UniqueModule module_;  // freed when the last holder lets go
  EntryPoints entries_;
};

}  // namespace nuv
