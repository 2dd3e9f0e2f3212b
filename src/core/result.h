// The one result type: a value or the error that prevented it, for steps that fail as values
// rather than by throwing.
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace orv {

// An error spelled out, for the error types a value could be mistaken for (text).
template <class E>
struct Unexpected {
  E error;
};

// A failure told as text; the only way to make a text error, so that text meant as a value is
// never taken for one.
inline Unexpected<std::string> fail(std::string message) { return {std::move(message)}; }

// std::expected is not usable from clang 14 (the fuzz build), so the project keeps its own.
// Each layer picks its error type: a message, a DCAP failure with its kind and causes, a
// transparency-log code and message, a problem of a report.
template <class T, class E>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Expected(E error)                                                        // NOLINT: implicit by design
      requires(!std::is_same_v<E, std::string>)
      : state_(std::in_place_index<1>, std::move(error)) {}
  Expected(Unexpected<E> error) : state_(std::in_place_index<1>, std::move(error.error)) {}  // NOLINT

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & { return std::get<1>(state_); }
  const E& error() const& { return std::get<1>(state_); }
  E&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, E> state_;
};

// Nothing, or the error. It has no conversion to bool on purpose: ok() reads the right way round,
// where `if (auto error = check())` would read as the opposite of what it tests.
template <class E>
class [[nodiscard]] Expected<void, E> {
 public:
  Expected() = default;
  Expected(E error)  // NOLINT: implicit by design
      requires(!std::is_same_v<E, std::string>)
      : error_(std::move(error)) {}
  Expected(Unexpected<E> error) : error_(std::move(error.error)) {}  // NOLINT

  bool ok() const { return !error_; }
  const E& error() const& { return *error_; }
  E&& error() && { return std::move(*error_); }

 private:
  std::optional<E> error_;
};

}  // namespace orv
