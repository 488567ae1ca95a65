// A value or an error, shaped like std::expected so that the code can move to
// it unchanged once the project builds as C++23.
#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace nuv {

template <class E>
struct Unexpected {
  E error;
};

template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
  return {std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Result {
 public:
  // A Result argument goes to the copy or move constructor, never here (as with std::expected).
  // NOLINTBEGIN(bugprone-forwarding-reference-overload): the requires-clause excludes Result
  template <class U = T>
    requires(!std::is_same_v<std::remove_cvref_t<U>, Result> && std::is_constructible_v<T, U&&>)
  Result(U&& value) : state_(std::in_place_index<0>, std::forward<U>(value)) {}
  // NOLINTEND(bugprone-forwarding-reference-overload)
  template <class G>
  Result(Unexpected<G> error) : state_(std::in_place_index<1>, std::move(error.error)) {}

  [[nodiscard]] bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  [[nodiscard]] T& value() & { return std::get<0>(state_); }
  [[nodiscard]] const T& value() const& { return std::get<0>(state_); }
  [[nodiscard]] T&& value() && { return std::get<0>(std::move(state_)); }
  // cppcheck reads these with T = void in a unit that uses only Result<void, E>,
  // where the specialisation below stands instead.
  T& operator*() & { return value(); }
  // cppcheck-suppress returnTempReference
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  // cppcheck-suppress returnDanglingLifetime
  const T* operator->() const { return &value(); }

  [[nodiscard]] E& error() & { return std::get<1>(state_); }
  [[nodiscard]] const E& error() const& { return std::get<1>(state_); }
  [[nodiscard]] E&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, E> state_;
};

template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  template <class G>
  Result(Unexpected<G> error) : error_(std::move(error.error)), failed_(true) {}

  [[nodiscard]] bool has_value() const { return !failed_; }
  explicit operator bool() const { return has_value(); }
  void value() const {}

  [[nodiscard]] E& error() & { return error_; }
  [[nodiscard]] const E& error() const& { return error_; }

 private:
  E error_{};
  bool failed_ = false;
};

}  // namespace nuv
