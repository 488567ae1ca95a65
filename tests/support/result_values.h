// Results seen as optionals in the portable tests, so that an expectation
// compares one with a plain value or with std::nullopt and prints what it got.
#pragma once

#include <optional>

#include "common/result.h"

namespace nuv::test {

// The value; absent when the result holds an error.
template <class T, class E>
std::optional<T> value_of(const Result<T, E>& result) {
  if (!result) return std::nullopt;
  return *result;
}

// The error; absent when the result succeeded.
template <class T, class E>
std::optional<E> error_of(const Result<T, E>& result) {
  if (result) return std::nullopt;
  return result.error();
}

}  // namespace nuv::test
