// Runs the orphan adapter cleanup, or a piece of the Wintun binding, in a
// process of its own, so that each test gets its own folder, environment and
// logger flag. Prints what it found on standard output.
//   clean                 the cleanup; prints the count
//   clean-unsafe          the same, on a system without safe DLL search (the
//                         driver itself stands in for its kernel32.dll)
//   load                  loads the library; prints "loaded" or the error
//                         kind, and whether the thread's error mode changed
//   open-twice <a> <b>    loads the library twice and opens one adapter
//                         with each; prints whether each opened
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "common/wide.h"
#include "platform/wintun/orphan_cleanup_win.h"
#include "platform/wintun/wintun_adapter_win.h"
#include "platform/wintun/wintun_library_win.h"

namespace {

const char* kind_name(nuv::WintunErrorKind kind) {
  switch (kind) {
    case nuv::WintunErrorKind::LoadFailed:
      return "LoadFailed";
    case nuv::WintunErrorKind::EntryPointMissing:
      return "EntryPointMissing";
    case nuv::WintunErrorKind::Message:
      return "Message";
    case nuv::WintunErrorKind::SystemError:
      return "SystemError";
  }
  return "?";
}

// The cleanup's log lines, on standard error.
struct StandardErrorLog final : nuv::Log {
  void write(std::string_view text) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"clean") {
    StandardErrorLog log;
    std::printf("%llu\n", static_cast<unsigned long long>(nuv::clean_wintun_orphans(log)));
    return 0;
  }
  if (mode == L"clean-unsafe") {
    StandardErrorLog log;
    std::printf("%llu\n", static_cast<unsigned long long>(
                              nuv::clean_wintun_orphans(log, ::GetModuleHandleW(nullptr))));
    return 0;
  }
  if (mode == L"load") {
    ::SetThreadErrorMode(0, nullptr);
    const auto library = nuv::WintunLibrary::load();
    std::printf("%s\n", library ? "loaded" : kind_name(library.error().kind));
    std::printf("error mode %lu\n", ::GetThreadErrorMode());
    return 0;
  }
  if (mode == L"open-twice" && argc > 3) {
    for (int i = 2; i < 4; ++i) {
      auto library = nuv::WintunLibrary::load();
      if (!library) {
        std::printf("%s\n", kind_name(library.error().kind));
        return 1;
      }
      auto adapter = nuv::WintunAdapter::open(*library, nuv::from_wide(argv[i]).value_or(""));
      std::printf("%s\n", adapter ? "opened" : adapter.error().text.c_str());
    }
    return 0;
  }
  return 2;
}
