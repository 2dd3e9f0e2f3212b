// Result<T>: a value or an error text, for steps that fail as values rather than by throwing.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace orv {

struct Error {
  std::string message;
};

inline Error fail(std::string message) { return Error{std::move(message)}; }

// std::expected is not usable from clang 14 (the fuzz build), so the project keeps its own.
template <class T>
class Result {
 public:
  Result(T value) : state_(std::move(value)) {}  // NOLINT: implicit by design
  Result(Error error) : state_(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const std::string& error() const { return std::get<1>(state_).message; }

 private:
  std::variant<T, Error> state_;
};

}  // namespace orv
