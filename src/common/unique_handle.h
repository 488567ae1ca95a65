// Owners for Win32 handles: movable, not copyable, closed exactly once.
#pragma once

#include <utility>

#include "common/win32.h"

namespace nuv {

template <class Traits>
class UniqueResource {
 public:
  using Pointer = typename Traits::Pointer;

  UniqueResource() = default;
  explicit UniqueResource(Pointer value) : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  Pointer get() const { return value_; }
  bool valid() const { return value_ != Traits::invalid(); }
  explicit operator bool() const { return valid(); }

  Pointer release() { return std::exchange(value_, Traits::invalid()); }
  void reset(Pointer value = Traits::invalid()) {
    const Pointer old = std::exchange(value_, value);
    if (old != Traits::invalid()) Traits::close(old);
  }
  // For out-parameters of system calls: releases what is held and hands out
  // the slot.
  Pointer* put() {
    reset();
    return &value_;
  }

 private:
  Pointer value_ = Traits::invalid();
};

struct NullHandleTraits {
  using Pointer = HANDLE;
  static Pointer invalid() { return nullptr; }
  static void close(Pointer h) { ::CloseHandle(h); }
};

// File handles, whose failure value is INVALID_HANDLE_VALUE rather than null.
struct FileHandleTraits {
  using Pointer = HANDLE;
  static Pointer invalid() { return INVALID_HANDLE_VALUE; }
  static void close(Pointer h) { ::CloseHandle(h); }
};

struct ModuleTraits {
  using Pointer = HMODULE;
  static Pointer invalid() { return nullptr; }
  static void close(Pointer h) { ::FreeLibrary(h); }
};

// A wait registered with RegisterWaitForSingleObject. Unregistering waits
// for a callback that is already running, so whatever the callback uses may
// be freed as soon as the owner is gone.
struct WaitRegistrationTraits {
  using Pointer = HANDLE;
  static Pointer invalid() { return nullptr; }
  static void close(Pointer h) { ::UnregisterWaitEx(h, INVALID_HANDLE_VALUE); }
};

using UniqueHandle = UniqueResource<NullHandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueWaitRegistration = UniqueResource<WaitRegistrationTraits>;

}  // namespace nuv
