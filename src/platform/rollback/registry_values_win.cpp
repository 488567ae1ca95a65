#include "platform/rollback/registry_values_win.h"

#include <cwchar>
#include <string_view>

#include "common/wide.h"

namespace nuv {
namespace {

// A value that keeps growing between the size query and the read is asked
// for again, a few times at most.
constexpr int kReadAttempts = 4;

}  // namespace

Result<UniqueRegistryKey, OsError> open_registry_key(HKEY root, const wchar_t* path) {
  UniqueRegistryKey key;
  const LSTATUS status = ::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, key.put());
  if (status != ERROR_SUCCESS) return unexpected(OsError{static_cast<std::uint32_t>(status)});
  return key;
}

Result<std::optional<std::string>, OsError> read_string_value(HKEY key, const wchar_t* name) {
  // RRF_RT_REG_SZ alone: a REG_EXPAND_SZ would need RRF_NOEXPAND, and the
  // values read here are plain strings.
  constexpr DWORD kFlags = RRF_RT_REG_SZ;
  DWORD bytes = 0;
  LSTATUS status = ::RegGetValueW(key, nullptr, name, kFlags, nullptr, nullptr, &bytes);
  for (int attempt = 0; attempt < kReadAttempts && status == ERROR_SUCCESS; ++attempt) {
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    status = ::RegGetValueW(key, nullptr, name, kFlags, nullptr, text.data(), &size);
    if (status == ERROR_MORE_DATA) {
      bytes = size;
      status = ERROR_SUCCESS;
      continue;
    }
    if (status != ERROR_SUCCESS) break;
    text.resize(::wcsnlen(text.c_str(), size / sizeof(wchar_t)));
    auto utf8 = from_wide(text);
    if (!utf8) return unexpected(OsError{ERROR_INVALID_DATA});
    return std::optional<std::string>(std::move(*utf8));
  }
  if (status == ERROR_FILE_NOT_FOUND) return std::optional<std::string>();
  if (status == ERROR_SUCCESS) status = ERROR_MORE_DATA;  // it kept growing
  return unexpected(OsError{static_cast<std::uint32_t>(status)});
}

Result<std::optional<std::uint32_t>, OsError> read_dword_value(HKEY key, const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  const LSTATUS status =
      ::RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  if (status == ERROR_FILE_NOT_FOUND) return std::optional<std::uint32_t>();
  if (status != ERROR_SUCCESS) return unexpected(OsError{static_cast<std::uint32_t>(status)});
  return std::optional<std::uint32_t>(value);
}

}  // namespace nuv
