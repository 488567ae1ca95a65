// The one owner of every resource the program holds: movable, not copyable,
// released exactly once by its close policy. Portable: a policy names its own
// handle type, so the Win32 ones live in unique_handle_win.h.
#pragma once

#include <utility>

namespace nuv {

// Traits give `Pointer` (movable, comparable with ==; a handle, or a small
// struct when the release needs more than one value), `invalid()`, the value
// that holds nothing, and `close(Pointer)`, which releases a held one.
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
    if (!(old == Traits::invalid())) Traits::close(std::move(old));
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

}  // namespace nuv
