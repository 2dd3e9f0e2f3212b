// Readable test failure output for verdict values, and the error of a check as a value.
#pragma once

#include <ostream>

#include "core/result.h"
#include "core/verdict.h"

namespace orv {

inline std::ostream& operator<<(std::ostream& out, const ProblemCode& code) { return out << code.text(); }

inline void PrintTo(const Problem& problem, std::ostream* out) {
  *out << "{" << problem.code.text() << ", \"" << problem.message << "\", line " << problem.line << "}";
}

inline void PrintTo(Outcome outcome, std::ostream* out) { *out << outcome_word(outcome); }

// The check's error, or `accepted` when it passed.
template <class E>
E error_or(const Expected<void, E>& checked, E accepted) {
  return checked.ok() ? accepted : checked.error();
}

}  // namespace orv
