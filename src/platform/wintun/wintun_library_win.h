// The Wintun library, loaded at run time with all its entry points bound, and
// the adapters opened through it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/win32.h"
#include "common/result.h"
#include "common/unique_handle_win.h"

#include <ifdef.h>

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
  void set_logger(WintunLoggerCallback logger) const;

 private:
  UniqueModule module_;  // freed when the last holder lets go
  EntryPoints entries_;
};

// An open adapter handle with the library that closes it: closed exactly
// once, and the library let go only after the close returned, so that the
// module is never freed under a handle of its own.
class UniqueAdapterHandle {
 public:
  UniqueAdapterHandle() = default;
  UniqueAdapterHandle(std::shared_ptr<const WintunLibrary> library, WintunAdapterHandle handle)
      : library_(std::move(library)), handle_(handle) {}
  UniqueAdapterHandle(const UniqueAdapterHandle&) = delete;
  UniqueAdapterHandle& operator=(const UniqueAdapterHandle&) = delete;
  UniqueAdapterHandle(UniqueAdapterHandle&& other) noexcept
      : library_(std::move(other.library_)), handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueAdapterHandle& operator=(UniqueAdapterHandle&& other) noexcept {
    if (this != &other) {
      reset();
      library_ = std::move(other.library_);
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ~UniqueAdapterHandle() { reset(); }

  WintunAdapterHandle get() const { return handle_; }
  bool valid() const { return handle_ != nullptr; }
  explicit operator bool() const { return valid(); }

  // Closes the handle, if one is held, and lets go of the library.
  void reset() {
    if (handle_ != nullptr) library_->close_adapter(std::exchange(handle_, nullptr));
    library_.reset();
  }

 private:
  std::shared_ptr<const WintunLibrary> library_;
  WintunAdapterHandle handle_ = nullptr;
};

class WintunAdapter {
 public:
  // Opens the adapter by name (its interface alias) and resolves its
  // interface identifiers; the handle is closed again when they do not resolve.
  static Result<WintunAdapter, WintunError> open(std::shared_ptr<const WintunLibrary> library,
                                                 std::string_view name);

  WintunAdapter(WintunAdapter&& other) noexcept = default;
  WintunAdapter& operator=(WintunAdapter&& other) noexcept = default;
  WintunAdapter(const WintunAdapter&) = delete;
  WintunAdapter& operator=(const WintunAdapter&) = delete;
  ~WintunAdapter() = default;

  // Closes the handle once and lets go of the library.
  void close() { handle_.reset(); }

  NET_LUID luid() const { return luid_; }
  NET_IFINDEX index() const { return index_; }
  GUID guid() const { return guid_; }

 private:
  WintunAdapter(UniqueAdapterHandle handle, NET_LUID luid, NET_IFINDEX index, GUID guid)
      : handle_(std::move(handle)), luid_(luid), index_(index), guid_(guid) {}

  UniqueAdapterHandle handle_;
  NET_LUID luid_{};
  NET_IFINDEX index_ = 0;
  GUID guid_{};
};

// Wintun's diagnostics, made silent: the message is converted and dropped.
// Returns what the conversion gave, for tests.
std::string wintun_log_text(const wchar_t* message);

// Whether this process has installed the logger yet.
bool wintun_logger_installed();

}  // namespace nuv
