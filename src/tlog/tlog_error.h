// Transparency-log errors: a fixed code and a message, the one way the note, Merkle, Sigsum
// and Rekor readers report that evidence fails. Callers wrap them into their own problems.
#pragma once

#include <string>
#include <utility>

#include "core/problem_codes.h"
#include "core/result.h"

namespace orv::tlog {

struct TlogError {
  ProblemCode code;
  std::string message;

  bool operator==(const TlogError&) const = default;
};

inline TlogError tlog_error(ProblemCode code, std::string message) { return TlogError{code, std::move(message)}; }

}  // namespace orv::tlog
