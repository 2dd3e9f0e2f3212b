// A failed DCAP check: one message and the causes beneath it, outermost first, so that a caller
// can print "message: cause: cause" or classify by any of the parts.
#pragma once

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/result.h"

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

// A value or the failure that prevented it; the causes are what lets Level 2 tell an expired
// document from a forged one.
template <class T>
class Checked : public Expected<T, Failure> {
 public:
  using Expected<T, Failure>::Expected;
  const Failure& failure() const& { return Expected<T, Failure>::error(); }
  Failure&& failure() && { return std::move(*this).Expected<T, Failure>::error(); }
};

}  // namespace orv::dcap
