// The attribute list that hands CreateProcessW the exact handles a child may
// inherit, and the owner of such a list. Without it, inheritance passes on
// every inheritable handle of the watchdog, its own standard error among
// them, to the tool and to whatever the tool leaves running.
#pragma once

#include <cstddef>
#include <new>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/result.h"
#include "common/unique_handle_win.h"
#include "common/unique_resource.h"

namespace nuv {

// An attribute list in memory of its own. Deleting a list frees nothing, and
// only a list that was initialized may be deleted, so the release is told
// which it holds.
struct AttributeListTraits {
  using CloseGuard = LastErrorKeeper;
  struct Pointer {
    LPPROC_THREAD_ATTRIBUTE_LIST list = nullptr;  // from ::operator new
    bool initialized = false;
    bool operator==(const Pointer&) const = default;
  };
  static Pointer invalid() { return {}; }
  static void close(Pointer held) {
    if (held.initialized) ::DeleteProcThreadAttributeList(held.list);
    ::operator delete(held.list);
  }
};
using UniqueAttributeList = UniqueResource<AttributeListTraits>;

class InheritedHandleList {
 public:
  InheritedHandleList() = default;
  // The list points into the handles held here, so it stays where it is.
  InheritedHandleList(const InheritedHandleList&) = delete;
  InheritedHandleList& operator=(const InheritedHandleList&) = delete;

  // Adds a handle once; null handles are left out.
  void add(HANDLE handle);

  // Builds the list. The handles must stay open until the process is
  // created.
  Result<void, OsError> build();

  // Null until built.
  LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_.get().list; }

 private:
  HANDLE handles_[3] = {};  // standard input, output, error
  std::size_t count_ = 0;
  UniqueAttributeList list_;
};

}  // namespace nuv
