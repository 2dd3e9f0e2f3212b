// A value or the error that prevented it, for steps that fail as values rather than by throwing.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace orv {

// std::expected is not usable from clang 14 (the fuzz build), so the project keeps its own.
// Each layer picks its error type: a bare message, a DCAP failure with its causes, a
// transparency-log code and message.
template <class T, class E>
class Expected {
 public:
  Expected(T value) : state_(std::move(value)) {}  // NOLINT: implicit by design
  Expected(E error) : state_(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const E& error() const& { return std::get<1>(state_); }
  E&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, E> state_;
};

struct Error {
  std::string message;
};

inline Error fail(std::string message) { return Error{std::move(message)}; }

// The common case: the error is one message.
template <class T>
class Result : public Expected<T, Error> {
 public:
  using Expected<T, Error>::Expected;
  const std::string& error() const { return Expected<T, Error>::error().message; }
};

}  // namespace orv
