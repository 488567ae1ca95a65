#include "platform/wintun/wintun_adapter_win.h"

#include <cstdint>
#include <optional>

#include <iphlpapi.h>
#include <netioapi.h>

#include "common/os_error.h"
#include "common/wide.h"

namespace nuv {

Result<WintunAdapter, WintunError> WintunAdapter::open(std::shared_ptr<const WintunLibrary> library,
                                                       std::string_view name) {
  const auto wide = to_wide(name);
  if (!wide)
    return unexpected(WintunError{WintunErrorKind::Message, std::nullopt,
                                  "Invalid UTF-8 sequence: adapter name"});

  library->silence_logger_once();
  const WintunAdapterHandle opened = library->open_adapter(wide->c_str());
  UniqueAdapterHandle handle(AdapterHandle{std::move(library), opened});
  if (!handle) {
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
    handle.reset();  // of no use without its identifiers: closed before anything else
    return unexpected(WintunError{WintunErrorKind::SystemError, static_cast<std::uint32_t>(status),
                                  os_error_text(static_cast<std::uint32_t>(status))});
  }
  return WintunAdapter(std::move(handle), luid, index, guid);
}

}  // namespace nuv
