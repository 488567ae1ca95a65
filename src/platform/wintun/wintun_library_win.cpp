#include "platform/wintun/wintun_library_win.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cwchar>
#include <string>
#include <string_view>

#include "common/proc_address_win.h"
#include "common/wide.h"

namespace nuv {
namespace {

// Indexed by WintunLibrary::Entry.
constexpr std::array kEntryPointNames{
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
static_assert(kEntryPointNames.size() == WintunLibrary::kEntryCount);

std::atomic<bool> logger_installed{false};

using OpenAdapterFn = WintunAdapterHandle WINAPI(const wchar_t*);
using CloseAdapterFn = void WINAPI(WintunAdapterHandle);
using SetLoggerFn = void WINAPI(WintunLoggerCallback);

template <class F>
F* entry(const WintunLibrary::EntryPoints& entries, WintunLibrary::Entry which) {
  return function_cast<F>(entries[static_cast<std::size_t>(which)]);
}

// `code` is GetLastError() as read right after the call that failed.
WintunError system_error_as(WintunErrorKind kind, DWORD code, const char* text) {
  if (code == 0)
    return {kind, std::nullopt, std::string(text) + ", but system did not report the error"};
  return {kind, code, text};
}

// What a Wintun diagnostic says, as UTF-8; the words stand in for a message
// that is missing or not UTF-16.
std::string wintun_log_text(const wchar_t* message) {
  if (message == nullptr) return "Null pointer received";
  const auto text = from_wide(std::wstring_view(message, std::wcslen(message)));
  if (!text) return "Invalid UTF-8 sequence: lone surrogate in UTF-16 text";
  return *text;
}

// Wintun's diagnostics, made silent: each message is converted and dropped.
void CALLBACK silent_logger(int /*level*/, DWORD64 /*timestamp*/, const wchar_t* message) {
  (void)wintun_log_text(message);
}

}  // namespace

Result<std::shared_ptr<const WintunLibrary>, WintunError> WintunLibrary::load() {
  DWORD previous_mode = 0;
  const bool mode_set = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_mode) != 0;
  UniqueModule module(::LoadLibraryExW(
      L"wintun", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
  // Before the error mode is set back, which may set an error of its own.
  const DWORD load_error = module ? 0 : ::GetLastError();
  if (mode_set && previous_mode != SEM_FAILCRITICALERRORS)
    ::SetThreadErrorMode(previous_mode, nullptr);
  if (!module) {
    return unexpected(
        system_error_as(WintunErrorKind::LoadFailed, load_error, "LoadLibraryExW failed"));
  }

  EntryPoints entries{};
  for (std::size_t i = 0; i < kEntryCount; ++i) {
    entries[i] = ::GetProcAddress(module.get(), kEntryPointNames[i]);
    if (entries[i] == nullptr) {
      const DWORD code = ::GetLastError();
      auto error =
          system_error_as(WintunErrorKind::EntryPointMissing, code, "GetProcAddress failed");
      module.reset();  // later names are not tried
      return unexpected(std::move(error));
    }
  }
  return std::make_shared<const WintunLibrary>(std::move(module), entries);
}

WintunAdapterHandle WintunLibrary::open_adapter(const wchar_t* name) const {
  return entry<OpenAdapterFn>(entries_, Entry::kOpenAdapter)(name);
}

void WintunLibrary::close_adapter(WintunAdapterHandle adapter) const {
  entry<CloseAdapterFn>(entries_, Entry::kCloseAdapter)(adapter);
}

void WintunLibrary::silence_logger_once() const {
  bool expected = false;
  if (logger_installed.compare_exchange_strong(expected, true)) {
    entry<SetLoggerFn>(entries_, Entry::kSetLogger)(silent_logger);
  }
}

}  // namespace nuv
