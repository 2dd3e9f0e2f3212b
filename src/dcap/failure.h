// A failed DCAP check: one message and the causes beneath it, outermost first, so that a caller
// can print "message: cause: cause" or classify by any of the parts.
#pragma once

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace orv::dcap {

struct Failure {
  std::string message;
  std::vector<std::string> causes;

  // The message followed by each cause, joined by ": ".
  std::string text() const {
    std::string out = message;
    for (const std::string& cause : causes) {
      out += ": ";
      out += cause;
    }
    return out;
  }

  bool operator==(const Failure&) const = default;
};

inline Failure failure(std::string message) { return Failure{std::move(message), {}}; }

inline Failure failure(std::string message, std::string cause) {
  return Failure{std::move(message), {std::move(cause)}};
}

// The inner failure becomes the causes of a new outer message.
inline Failure wrap(std::string message, Failure inner) {
  Failure outer{std::move(message), {}};
  outer.causes.reserve(inner.causes.size() + 1);
  outer.causes.push_back(std::move(inner.message));
  for (std::string& cause : inner.causes) outer.causes.push_back(std::move(cause));
  return outer;
}

// A value or the failure that prevented it. orv::Result carries a bare message; the causes here
// are what lets Level 2 tell an expired document from a forged one.
template <class T>
class Checked {
 public:
  Checked(T value) : state_(std::move(value)) {}            // NOLINT: implicit by design
  Checked(Failure failure) : state_(std::move(failure)) {}  // NOLINT: implicit by design

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Failure& failure() const& { return std::get<1>(state_); }
  Failure&& failure() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, Failure> state_;
};

}  // namespace orv::dcap
