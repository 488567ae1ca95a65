// A Wintun adapter opened by name, with the library that closes it.
#pragma once

#include <memory>
#include <string_view>
#include <utility>

#include "common/win32.h"
#include "common/result.h"
#include "common/unique_handle_win.h"
#include "common/unique_resource.h"
#include "platform/wintun/wintun_library_win.h"

#include <ifdef.h>

namespace nuv {

// An adapter handle and the library it came from.
struct AdapterHandle {
  std::shared_ptr<const WintunLibrary> library;
  WintunAdapterHandle handle = nullptr;
  // The handle alone tells: a library without a handle holds nothing to close.
  bool operator==(const AdapterHandle& other) const { return handle == other.handle; }
};

// Closes the adapter through its library, and only then lets the library go,
// so that the module is never freed under a handle of its own.
struct AdapterHandleTraits {
  using CloseGuard = LastErrorKeeper;
  using Pointer = AdapterHandle;
  static Pointer invalid() { return {}; }
  static void close(Pointer adapter) {
    adapter.library->close_adapter(adapter.handle);
    adapter.library.reset();
  }
};

using UniqueAdapterHandle = UniqueResource<AdapterHandleTraits>;

class WintunAdapter {
 public:
  // Opens the adapter by name (its interface alias) and resolves its
  // interface identifiers; the handle is closed again when they do not resolve.
  static Result<WintunAdapter, WintunError> open(std::shared_ptr<const WintunLibrary> library,
                                                 std::string_view name);

  // Closes the handle once and lets go of the library.
  void close() { handle_.reset(); }

  NET_LUID luid() const { return luid_; }
  NET_IFINDEX index() const { return index_; }
  GUID guid() const { return guid_; }

 private:
  WintunAdapter(UniqueAdapterHandle handle, NET_LUID luid, NET_IFINDEX index, GUID guid)
      : handle_(std::move(handle)), luid_(luid), index_(index), guid_(guid) {}

  UniqueAdapterHandle handle_;
  NET_LUID luid_{};
  NET_IFINDEX index_ = 0;
  GUID guid_{};
};

}  // namespace nuv
