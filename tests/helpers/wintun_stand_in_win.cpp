// A stand-in wintun.dll: the 14 entry points of the real library, with
// adapters and answers that the test sets through the environment.
//
//   NUV_WINTUN_LOG        a file; one line is appended for the loading, the
//                         unloading and every call, with its arguments
//   NUV_WINTUN_ADAPTERS   the adapters that exist, separated by ';'
//   NUV_WINTUN_OPEN_DELAY_MS  how long each WintunOpenAdapter takes
//   NUV_WINTUN_LOCK_FILE  a path; the loading line says whether it exists
//
// WintunSetLogger calls the new logger from a thread of its own while the
// caller waits, once with a message and once with a null message, as the
// real library may log from any thread at any time.
// Built twice: as wintun.dll, and without WintunSendPacket (an older library).
#include <cstdint>
#include <cwchar>
#include <string>

#include "common/win32.h"
#include "common/unique_handle_win.h"

namespace {

using Logger = void(CALLBACK*)(int level, DWORD64 timestamp, const wchar_t* message);

std::wstring environment(const wchar_t* name) {
  wchar_t buffer[4096];
  const DWORD n = ::GetEnvironmentVariableW(name, buffer, 4096);
  return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
}

void log_line(const std::wstring& line) {
  const std::wstring path = environment(L"NUV_WINTUN_LOG");
  if (path.empty()) return;
  const nuv::UniqueFileHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_ALWAYS, 0, nullptr));
  if (!file) return;
  const std::wstring text = line + L"\n";
  char bytes[2048];
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes,
                                      sizeof bytes, nullptr, nullptr);
  DWORD wrote = 0;
  ::WriteFile(file.get(), bytes, static_cast<DWORD>(n), &wrote, nullptr);
}

struct Adapter {
  wchar_t name[256];
};

Logger logger = nullptr;

DWORD WINAPI log_from_another_thread(void*) {
  if (logger) {
    logger(0, 1, L"stand-in: logging from another thread");
    logger(2, 2, nullptr);
  }
  return 0;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    const std::wstring lock = environment(L"NUV_WINTUN_LOCK_FILE");
    const bool locked =
        !lock.empty() && ::GetFileAttributesW(lock.c_str()) != INVALID_FILE_ATTRIBUTES;
    log_line(locked ? L"load (lock file present)" : L"load");
  }
  if (reason == DLL_PROCESS_DETACH) log_line(L"unload");
  return TRUE;
}

__declspec(dllexport) void* WINAPI
    WintunCreateAdapter(const wchar_t* name, const wchar_t*, const GUID*) {
  log_line(std::wstring(L"WintunCreateAdapter ") + (name ? name : L""));
  return nullptr;
}

__declspec(dllexport) void WINAPI WintunCloseAdapter(void* adapter) {
  auto* a = static_cast<Adapter*>(adapter);
  log_line(std::wstring(L"WintunCloseAdapter ") + a->name);
  delete a;
}

__declspec(dllexport) void* WINAPI WintunOpenAdapter(const wchar_t* name) {
  log_line(std::wstring(L"WintunOpenAdapter ") + name);
  const std::wstring delay = environment(L"NUV_WINTUN_OPEN_DELAY_MS");
  if (!delay.empty()) ::Sleep(std::wcstoul(delay.c_str(), nullptr, 10));
  const std::wstring adapters = L";" + environment(L"NUV_WINTUN_ADAPTERS") + L";";
  if (adapters.find(L";" + std::wstring(name) + L";") == std::wstring::npos) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  auto* adapter = new Adapter{};
  std::wcsncpy(adapter->name, name, 255);
  return adapter;
}

__declspec(dllexport) void WINAPI WintunGetAdapterLUID(void*, void*) {
  log_line(L"WintunGetAdapterLUID");
}
__declspec(dllexport) DWORD WINAPI WintunGetRunningDriverVersion() {
  log_line(L"WintunGetRunningDriverVersion");
  return 0;
}
__declspec(dllexport) BOOL WINAPI WintunDeleteDriver() {
  log_line(L"WintunDeleteDriver");
  return FALSE;
}

__declspec(dllexport) void WINAPI WintunSetLogger(Logger new_logger) {
  log_line(L"WintunSetLogger");
  logger = new_logger;
  const nuv::UniqueHandle thread(
      ::CreateThread(nullptr, 0, log_from_another_thread, nullptr, 0, nullptr));
  if (thread) {
    ::WaitForSingleObject(thread.get(), INFINITE);
    log_line(L"logger called from another thread");
  }
}

__declspec(dllexport) void* WINAPI WintunStartSession(void*, DWORD) {
  log_line(L"WintunStartSession");
  return nullptr;
}
__declspec(dllexport) void WINAPI WintunEndSession(void*) { log_line(L"WintunEndSession"); }
__declspec(dllexport) HANDLE WINAPI WintunGetReadWaitEvent(void*) {
  log_line(L"WintunGetReadWaitEvent");
  return nullptr;
}
__declspec(dllexport) BYTE* WINAPI WintunReceivePacket(void*, DWORD*) {
  log_line(L"WintunReceivePacket");
  return nullptr;
}
__declspec(dllexport) void WINAPI WintunReleaseReceivePacket(void*, const BYTE*) {
  log_line(L"WintunReleaseReceivePacket");
}
__declspec(dllexport) BYTE* WINAPI WintunAllocateSendPacket(void*, DWORD) {
  log_line(L"WintunAllocateSendPacket");
  return nullptr;
}
#ifndef NUV_WITHOUT_SEND_PACKET
__declspec(dllexport) void WINAPI WintunSendPacket(void*, const BYTE*) {
  log_line(L"WintunSendPacket");
}
#endif

}  // extern "C"
