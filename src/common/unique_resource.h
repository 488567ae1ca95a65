// The one owner of every resource the program holds: movable, not copyable,
// released exactly once by its close policy. Portable: a policy names its own
// handle type, so the Win32 ones live in unique_handle_win.h.
#pragma once

#include <utility>

namespace nuv {

// Traits give `Pointer` (movable, comparable with ==; a handle, or a small
// struct when the release needs more than one value), `invalid()`, the value
// that holds nothing, and `close(Pointer)`, which releases a held one.
//
// They may also give `CloseGuard`, a type made just before `close` and gone
// just after it. The Win32 traits use it to keep the thread's last error
// (LastErrorKeeper): an owner released on a failure path, before its caller
// reads the failing call's code, must not replace that code with its close's.
template <class Traits>
class UniqueResource {
 public:
  using Pointer = typename Traits::Pointer;

  UniqueResource() = default;
  explicit UniqueResource(Pointer value) : value_(std::move(value)) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  [[nodiscard]] const Pointer& get() const { return value_; }
  [[nodiscard]] bool valid() const { return !(value_ == Traits::invalid()); }
  explicit operator bool() const { return valid(); }

  Pointer release() { return std::exchange(value_, Traits::invalid()); }
  void reset(Pointer value = Traits::invalid()) {
    Pointer old = std::exchange(value_, std::move(value));
    if (!(old == Traits::invalid())) close(std::move(old));
  }
  // For out-parameters of system calls: releases what is held and hands out
  // the slot.
  Pointer* put() {
    reset();
    return &value_;
  }

 private:
  static void close(Pointer value) {
    if constexpr (requires { typename Traits::CloseGuard; }) {
      const typename Traits::CloseGuard guard;
      Traits::close(std::move(value));
    } else {
      Traits::close(std::move(value));
    }
  }

  Pointer value_ = Traits::invalid();
};

}  // namespace nuv
