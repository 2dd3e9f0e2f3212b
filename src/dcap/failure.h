// A failed DCAP check: what kind of failure it is, one message and the causes beneath it,
// outermost first, so that a caller can print "message: cause: cause" and act on the kind.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/result.h"

namespace orv::dcap {

// Set where the failure is raised, never read from its words.
enum class FailureKind {
  Malformed,     // does not decode or parse, or is out of its bounds
  Unsupported,   // a version, type or algorithm this verifier does not judge
  Expired,       // a certificate, CRL or signed document past its end at the evaluation time
  NotYetValid,   // ... or before its start
  BadSignature,  // a signature that does not verify
  Revoked,       // a certificate on a revocation list, or a platform Intel revoked
  Untrusted,     // no path to the pinned root, or a path that breaks a CA rule
  Mismatch,      // the quote is not what the collateral describes
  NotAccepted,   // sound, but refused by the acceptance rules
  Internal,      // the check itself could not run (out of memory)
};
using enum FailureKind;

struct Failure {
  FailureKind kind = Malformed;
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

inline Failure failure(FailureKind kind, std::string message) { return Failure{kind, std::move(message), {}}; }

inline Failure failure(FailureKind kind, std::string message, std::string cause) {
  return Failure{kind, std::move(message), {std::move(cause)}};
}

// The inner failure becomes the causes of a new outer message, and keeps its kind.
inline Failure wrap(std::string message, Failure inner) {
  Failure outer{inner.kind, std::move(message), {}};
  outer.causes.reserve(inner.causes.size() + 1);
  outer.causes.push_back(std::move(inner.message));
  for (std::string& cause : inner.causes) outer.causes.push_back(std::move(cause));
  return outer;
}

}  // namespace orv::dcap
