#include "platform/rollback/dns_servers_win.h"

#include <cstdint>
#include <string_view>
#include <utility>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/proc_address_win.h"
#include "common/unique_handle_win.h"
#include "common/unique_resource.h"
#include "common/wide.h"
#include "platform/rollback/interface_guid_win.h"
#include "platform/rollback/registry_values_win.h"

namespace nuv {
namespace {

// DNS_INTERFACE_SETTINGS, version 1, as netioapi.h declares it in the
// Windows SDK; MinGW's headers do not have it yet.
struct DnsInterfaceSettings {
  ULONG Version;
  ULONG64 Flags;
  PWSTR Domain;
  PWSTR NameServer;
  PWSTR SearchList;
  ULONG RegistrationEnabled;
  ULONG RegisterAdapterName;
  ULONG EnableLLMNR;
  ULONG QueryAdapterName;
  PWSTR ProfileNameServer;
};
constexpr ULONG kDnsInterfaceSettingsVersion1 = 1;
constexpr ULONG64 kDnsSettingIpv6 = 0x0001;
constexpr ULONG64 kDnsSettingNameServer = 0x0002;

using GetInterfaceDnsSettingsFunction = DWORD WINAPI(GUID, DnsInterfaceSettings*);
using FreeInterfaceDnsSettingsFunction = void WINAPI(DnsInterfaceSettings*);

// Settings filled by GetInterfaceDnsSettings, whose strings go back through
// FreeInterfaceDnsSettings.
struct FilledDnsSettings {
  DnsInterfaceSettings* settings = nullptr;
  FreeInterfaceDnsSettingsFunction* release = nullptr;
  bool operator==(const FilledDnsSettings&) const = default;
};
struct FilledDnsSettingsTraits {
  using Pointer = FilledDnsSettings;
  using CloseGuard = LastErrorKeeper;  // a close never changes the caller's error
  static Pointer invalid() { return {}; }
  static void close(const Pointer& filled) { filled.release(filled.settings); }
};
using UniqueFilledDnsSettings = UniqueResource<FilledDnsSettingsTraits>;

enum class Family : std::uint8_t { kV4, kV6 };

const char* family_name(Family family) { return family == Family::kV4 ? "IPv4" : "IPv6"; }

Result<std::string, std::string> ask_dns_settings(GetInterfaceDnsSettingsFunction* get_settings,
                                                  FreeInterfaceDnsSettingsFunction* free_settings,
                                                  const GUID& guid, Family family) {
  DnsInterfaceSettings settings{};
  settings.Version = kDnsInterfaceSettingsVersion1;
  settings.Flags = kDnsSettingNameServer | (family == Family::kV6 ? kDnsSettingIpv6 : 0);
  const DWORD status = get_settings(guid, &settings);
  if (status != NO_ERROR) {
    return unexpected(std::string("GetInterfaceDnsSettings (") + family_name(family) +
                      ") failed: " + os_error_text(status));
  }
  const UniqueFilledDnsSettings filled(FilledDnsSettings{&settings, free_settings});
  if (settings.NameServer == nullptr) return std::string();
  auto text = from_wide(settings.NameServer);
  if (!text) {
    return unexpected(std::string("the ") + family_name(family) +
                      " NameServer is not valid UTF-16");
  }
  return std::move(*text);
}

Result<std::string, std::string> read_name_server_value(const std::string& guid, Family family) {
  const std::string path =
      std::string(family == Family::kV4 ? "SYSTEM\\CurrentControlSet\\Services\\Tcpip"
                                        : "SYSTEM\\CurrentControlSet\\Services\\Tcpip6") +
      "\\Parameters\\Interfaces\\" + guid;
  const auto wide_path = to_wide(path);
  if (!wide_path) return unexpected(std::string("the interface's GUID is not valid UTF-8"));
  const auto key = open_registry_key(HKEY_LOCAL_MACHINE, wide_path->c_str());
  if (!key)
    return unexpected("HKLM\\" + path + " cannot be opened: " + os_error_text(key.error().code));
  auto value = read_string_value(key->get(), L"NameServer");
  if (!value) {
    if (value.error().code == ERROR_UNSUPPORTED_TYPE) {
      return unexpected("NameServer under HKLM\\" + path + " is not a REG_SZ value");
    }
    return unexpected("NameServer under HKLM\\" + path +
                      " cannot be read: " + os_error_text(value.error().code));
  }
  return value->value_or(std::string());
}

}  // namespace

Result<DnsServerTexts, std::string> read_dns_servers(const InterfaceRow& row) {
  const auto guid = parse_interface_guid(row.guid);
  if (!guid) {
    return unexpected("interface " + std::to_string(row.index) + " has no valid GUID (\"" +
                      row.guid + "\")");
  }
  // iphlpapi.dll is imported by the program already; this only pins it.
  const UniqueModule iphlpapi(
      ::LoadLibraryExW(L"iphlpapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  GetInterfaceDnsSettingsFunction* get_settings = nullptr;
  FreeInterfaceDnsSettingsFunction* free_settings = nullptr;
  if (iphlpapi) {
    get_settings =
        proc_address<GetInterfaceDnsSettingsFunction>(iphlpapi.get(), "GetInterfaceDnsSettings");
    free_settings =
        proc_address<FreeInterfaceDnsSettingsFunction>(iphlpapi.get(), "FreeInterfaceDnsSettings");
  }

  DnsServerTexts servers;
  for (const Family family : {Family::kV4, Family::kV6}) {
    auto text = get_settings != nullptr && free_settings != nullptr
                    ? ask_dns_settings(get_settings, free_settings, *guid, family)
                    : read_name_server_value(interface_guid_text(*guid), family);
    if (!text) return unexpected(std::move(text.error()));
    (family == Family::kV4 ? servers.v4 : servers.v6) = std::move(*text);
  }
  return servers;
}

}  // namespace nuv
