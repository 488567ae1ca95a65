// The Wintun library, loaded at run time with all its entry points bound, and
// the adapters opened through it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/win32.h"
#include "common/result.h"
#include "common/unique_handle.h"

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
  struct EntryPoints {
    FARPROC create_adapter;
    FARPROC close_adapter;
    FARPROC open_adapter;
    FARPROC get_adapter_luid;
    FARPROC get_running_driver_version;
    FARPROC delete_driver;
    FARPROC set_logger;
    FARPROC start_session;
    FARPROC end_session;
    FARPROC get_read_wait_event;
    FARPROC receive_packet;
    FARPROC release_receive_packet;
    FARPROC allocate_send_packet;
    FARPROC send_packet;
  };

  WintunLibrary(UniqueModule module, const EntryPoints& entries)
      : module_(std::move(module)), entries_(entries) {}

  WintunAdapterHandle open_adapter(const wchar_t* name) const;
  void close_adapter(WintunAdapterHandle adapter) const;
  void set_logger(WintunLoggerCallback logger) const;

 private:
  UniqueModule module_;  // freed when the last holder lets go
  EntryPoints entries_;
};

class WintunAdapter {
 public:
  // Opens the adapter by name (its interface alias) and resolves its
  // interface identifiers; the handle is closed again when they do not resolve.
  static Result<WintunAdapter, WintunError> open(std::shared_ptr<const WintunLibrary> library,
                                                 std::string_view name);

  WintunAdapter(WintunAdapter&& other) noexcept;
  WintunAdapter& operator=(WintunAdapter&& other) noexcept;
  WintunAdapter(const WintunAdapter&) = delete;
  WintunAdapter& operator=(const WintunAdapter&) = delete;
  ~WintunAdapter() { close(); }

  // Closes the handle once and lets go of the library.
  void close();

  NET_LUID luid() const { return luid_; }
  NET_IFINDEX index() const { return index_; }
  GUID guid() const { return guid_; }

 private:
  WintunAdapter(std::shared_ptr<const WintunLibrary> library, WintunAdapterHandle handle,
                NET_LUID luid, NET_IFINDEX index, GUID guid)
      : library_(std::move(library)), handle_(handle), luid_(luid), index_(index), guid_(guid) {}

  std::shared_ptr<const WintunLibrary> library_;
  WintunAdapterHandle handle_ = nullptr;
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
