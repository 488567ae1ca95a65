// Reading single registry values for the read-back. Registry reads are local
// and answer at once; nothing here waits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/result.h"
#include "common/unique_handle_win.h"
#include "common/unique_resource.h"

namespace nuv {

struct RegistryKeyTraits {
  using Pointer = HKEY;
  using CloseGuard = LastErrorKeeper;  // a close never changes the caller's error
  static Pointer invalid() { return nullptr; }
  static void close(Pointer key) { ::RegCloseKey(key); }
};
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;

// Opens `path` under `root` for reading values. ERROR_FILE_NOT_FOUND when the
// key does not exist.
Result<UniqueRegistryKey, OsError> open_registry_key(HKEY root, const wchar_t* path);

// The REG_SZ value `name` of `key` as UTF-8; absent when there is no such
// value. ERROR_UNSUPPORTED_TYPE when it has another type, ERROR_INVALID_DATA
// when its text is not valid UTF-16.
Result<std::optional<std::string>, OsError> read_string_value(HKEY key, const wchar_t* name);

// The REG_DWORD value `name` of `key`; absent when there is no such value.
// ERROR_UNSUPPORTED_TYPE when it has another type.
Result<std::optional<std::uint32_t>, OsError> read_dword_value(HKEY key, const wchar_t* name);

}  // namespace nuv
