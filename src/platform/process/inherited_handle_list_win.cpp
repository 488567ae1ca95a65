#include "platform/process/inherited_handle_list_win.h"

#include <algorithm>
#include <new>

namespace nuv {

void InheritedHandleList::add(HANDLE handle) {
  if (handle == nullptr || std::find(handles_, handles_ + count_, handle) != handles_ + count_) {
    return;
  }
  handles_[count_++] = handle;
}

Result<void, OsError> InheritedHandleList::build() {
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);  // only asks for the size
  list_.reset({static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(::operator new(size, std::nothrow))});
  if (list() == nullptr) return unexpected(OsError{kOutOfMemoryError});
  if (!::InitializeProcThreadAttributeList(list(), 1, 0, &size)) {
    return unexpected(OsError{::GetLastError()});
  }
  list_.reset({list_.release().list, /*initialized=*/true});
  if (!::UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_,
                                   count_ * sizeof(HANDLE), nullptr, nullptr)) {
    return unexpected(OsError{::GetLastError()});
  }
  return {};
}

}  // namespace nuv
