// The user's proxy values, put back as they were when a test is done with
// them: the program under test reads and writes the same registry.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/win32.h"
#include "platform/rollback/registry_values_win.h"

namespace nuv::test {

inline constexpr wchar_t kInternetSettingsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// A registry value as it was: its type and bytes, or absent.
struct RawValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
};

// The user's Internet Settings key, opened for writing, whose ProxyEnable and
// ProxyServer are put back as they were when this goes.
class SavedProxyValues {
 public:
  SavedProxyValues() {
    const LSTATUS status =
        ::RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettingsKey, 0, nullptr, 0,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key_.put(), nullptr);
    EXPECT_EQ(status, ERROR_SUCCESS);
    for (const wchar_t* name : kNames) saved_.emplace_back(name, read(name));
  }
  SavedProxyValues(const SavedProxyValues&) = delete;
  SavedProxyValues& operator=(const SavedProxyValues&) = delete;
  ~SavedProxyValues() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        EXPECT_EQ(::RegSetValueExW(key_.get(), name, 0, value->type, value->bytes.data(),
                                   static_cast<DWORD>(value->bytes.size())),
                  ERROR_SUCCESS);
      } else {
        remove(name);
      }
    }
  }

  void set_dword(const wchar_t* name, DWORD value) {
    ASSERT_EQ(::RegSetValueExW(key_.get(), name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value),
                               sizeof value),
              ERROR_SUCCESS);
  }
  void set_text(const wchar_t* name, const std::wstring& text) {
    ASSERT_EQ(
        ::RegSetValueExW(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
        ERROR_SUCCESS);
  }
  void remove(const wchar_t* name) {
    const LSTATUS status = ::RegDeleteValueW(key_.get(), name);
    EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
  }

 private:
  static constexpr const wchar_t* kNames[] = {L"ProxyEnable", L"ProxyServer"};

  std::optional<RawValue> read(const wchar_t* name) const {
    RawValue value;
    DWORD size = 0;
    if (::RegQueryValueExW(key_.get(), name, nullptr, &value.type, nullptr, &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    value.bytes.resize(size);
    if (::RegQueryValueExW(key_.get(), name, nullptr, &value.type, value.bytes.data(), &size) !=
        ERROR_SUCCESS) {
      ADD_FAILURE() << "the user's value cannot be saved";
      return std::nullopt;
    }
    value.bytes.resize(size);
    return value;
  }

  UniqueRegistryKey key_;
  std::vector<std::pair<const wchar_t*, std::optional<RawValue>>> saved_;
};

}  // namespace nuv::test
