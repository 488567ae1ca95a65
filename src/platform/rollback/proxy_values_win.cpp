#include "platform/rollback/proxy_values_win.h"

#include <utility>

#include "common/os_error.h"
#include "platform/rollback/registry_values_win.h"

namespace nuv {
namespace {

constexpr wchar_t kInternetSettingsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

}  // namespace

Result<ProxyValues, std::string> read_proxy_values() {
  ProxyValues values;
  auto key = open_registry_key(HKEY_CURRENT_USER, kInternetSettingsKey);
  if (!key) {
    // A user who never had Internet settings has no proxy either.
    if (key.error().code == ERROR_FILE_NOT_FOUND) return values;
    return unexpected("the Internet Settings key cannot be opened: " +
                      os_error_text(key.error().code));
  }

  const auto enable = read_dword_value(key->get(), L"ProxyEnable");
  if (enable) {
    if (enable->has_value()) {
      values.enable_kind = ProxyValues::Enable::kDword;
      values.enable = **enable;
    }
  } else if (enable.error().code == ERROR_UNSUPPORTED_TYPE) {
    values.enable_kind = ProxyValues::Enable::kOtherType;
  } else {
    return unexpected("ProxyEnable cannot be read: " + os_error_text(enable.error().code));
  }

  auto server = read_string_value(key->get(), L"ProxyServer");
  if (!server) {
    if (server.error().code == ERROR_UNSUPPORTED_TYPE) {
      return unexpected(std::string("ProxyServer is not a REG_SZ value"));
    }
    return unexpected("ProxyServer cannot be read: " + os_error_text(server.error().code));
  }
  values.server = std::move(*server);
  return values;
}

}  // namespace nuv
