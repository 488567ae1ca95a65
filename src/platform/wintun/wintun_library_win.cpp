#include "platform/wintun/wintun_library_win.h"

#include <atomic>
#include <cwchar>

#include <iphlpapi.h>
#include <netioapi.h>

#include "common/wide.h"

namespace nuv {
namespace {

constexpr const char* kEntryPointNames[] = {
    "WintunCreateAdapter",
    "WintunCloseAdapter",
    "WintunOpenAdapter",
    "WintunGetAdapterLUID",
    "WintunGetRunningDriverVersion",
    "WintunDeleteDriver",
    "WintunSetLogger",
    "WintunStartSession",
    "WintunEndSession",
    "WintunGetReadWaitEvent",
    "WintunReceivePacket",
    "WintunReleaseReceivePacket",
    "WintunAllocateSendPacket",
    "WintunSendPacket",
};
static_assert(sizeof(kEntryPointNames) / sizeof(kEntryPointNames[0]) ==
              sizeof(WintunLibrary::EntryPoints) / sizeof(FARPROC));

std::atomic<bool> logger_installed{false};

using OpenAdapterFn = WintunAdapterHandle(WINAPI*)(const wchar_t*);
using CloseAdapterFn = void(WINAPI*)(WintunAdapterHandle);
using SetLoggerFn = void(WINAPI*)(WintunLoggerCallback);

template <class Fn>
Fn as(FARPROC address) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

WintunError system_error(WintunErrorKind kind, const char* text) {
  const DWORD code = ::GetLastError();
  if (code == 0)
    return {kind, std::nullopt, std::string(text) + ", but system did not report the error"};
  return {kind, code, text};
}

void CALLBACK silent_logger(int /*level*/, DWORD64 /*timestamp*/, const wchar_t* message) {
  (void)wintun_log_text(message);
}

}  // namespace

Result<std::shared_ptr<const WintunLibrary>, WintunError> WintunLibrary::load() {
  DWORD previous_mode = 0;
  const bool mode_set = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_mode) != 0;
  UniqueModule module(::LoadLibraryExW(
      L"wintun", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
  const DWORD load_error = ::GetLastError();
  if (mode_set && previous_mode != SEM_FAILCRITICALERRORS)
    ::SetThreadErrorMode(previous_mode, nullptr);
  if (!module) {
    ::SetLastError(load_error);
    return unexpected(system_error(WintunErrorKind::LoadFailed, "LoadLibraryExW failed"));
  }

  EntryPoints entries{};
  FARPROC* slot = &entries.create_adapter;
  for (const char* name : kEntryPointNames) {
    *slot = ::GetProcAddress(module.get(), name);
    if (*slot == nullptr) {
      auto error = system_error(WintunErrorKind::EntryPointMissing, "GetProcAddress failed");
      module.reset();  // later names are not tried
      return unexpected(std::move(error));
    }
    ++slot;
  }
  return std::make_shared<const WintunLibrary>(std::move(module), entries);
}

WintunAdapterHandle WintunLibrary::open_adapter(const wchar_t* name) const {
  return as<OpenAdapterFn>(entries_.open_adapter)(name);
}

void WintunLibrary::close_adapter(WintunAdapterHandle adapter) const {
  as<CloseAdapterFn>(entries_.close_adapter)(adapter);
}

void WintunLibrary::set_logger(WintunLoggerCallback logger) const {
  as<SetLoggerFn>(entries_.set_logger)(logger);
}

Result<WintunAdapter, WintunError> WintunAdapter::open(std::shared_ptr<const WintunLibrary> library,
                                                       std::string_view name) {
  const auto wide = to_wide(name);
  if (!wide)
    return unexpected(WintunError{WintunErrorKind::Message, std::nullopt,
                                  "Invalid UTF-8 sequence: adapter name"});

  bool expected = false;
  if (logger_installed.compare_exchange_strong(expected, true)) library->set_logger(silent_logger);

  const WintunAdapterHandle handle = library->open_adapter(wide->c_str());
  if (handle == nullptr) {
    return unexpected(
        WintunError{WintunErrorKind::Message, std::nullopt, "WintunOpenAdapter failed"});
  }

  NET_LUID luid{};
  NET_IFINDEX index = 0;
  GUID guid{};
  NETIO_STATUS status = ::ConvertInterfaceAliasToLuid(wide->c_str(), &luid);
  if (status == NO_ERROR) status = ::ConvertInterfaceLuidToIndex(&luid, &index);
  if (status == NO_ERROR) status = ::ConvertInterfaceLuidToGuid(&luid, &guid);
  if (status != NO_ERROR) {
    library->close_adapter(handle);
    wchar_t text[512] = L"";
    ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, status, 0,
                     text, 512, nullptr);
    return unexpected(WintunError{WintunErrorKind::SystemError, static_cast<std::uint32_t>(status),
                                  from_wide(text).value_or("")});
  }
  return WintunAdapter(std::move(library), handle, luid, index, guid);
}

WintunAdapter::WintunAdapter(WintunAdapter&& other) noexcept
    : library_(std::move(other.library_)),
      handle_(std::exchange(other.handle_, nullptr)),
      luid_(other.luid_),
      index_(other.index_),
      guid_(other.guid_) {}

WintunAdapter& WintunAdapter::operator=(WintunAdapter&& other) noexcept {
  if (this != &other) {
    close();
    library_ = std::move(other.library_);
    handle_ = std::exchange(other.handle_, nullptr);
    luid_ = other.luid_;
    index_ = other.index_;
    guid_ = other.guid_;
  }
  return *this;
}

void WintunAdapter::close() {
  if (handle_ != nullptr) library_->close_adapter(std::exchange(handle_, nullptr));
  library_.reset();  // the module goes with its last holder, after the close returned
}

std::string wintun_log_text(const wchar_t* message) {
  if (message == nullptr) return "Null pointer received";
  const auto text = from_wide(std::wstring_view(message, std::wcslen(message)));
  if (!text) return "Invalid UTF-8 sequence: lone surrogate in UTF-16 text";
  return *text;
}

bool wintun_logger_installed() { return logger_installed.load(); }

}  // namespace nuv
