// A stand-in child process for the tests.
//   wait        sleeps until it is killed
//   exit <n>    exits at once with code n
#include <cwchar>
#include <cwctype>
#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"wait") {
    for (;;) ::Sleep(INFINITE);
  }
  if (mode == L"exit" && argc > 2) {
    return static_cast<int>(std::wcstoul(argv[2], nullptr, 10));
  }
  return 99;
}
