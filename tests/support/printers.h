// Readable test failure output for verdict values, and the error of a check as a value.
#pragma once

#include <optional>
#include <ostream>

#include "core/result.h"
#include "core/verdict.h"

namespace orv {

inline std::ostream& operator<<(std::ostream& out, const ProblemCode& code) { return out << code.text(); }

inline void PrintTo(const Problem& problem, std::ostream* out) {
  *out << "{" << problem.code.text() << ", \"" << problem.message << "\", line " << problem.line << "}";
}

inline void PrintTo(Outcome outcome, std::ostream* out) { *out << outcome_word(outcome); }

// The check's error, or nothing when it passed, to compare with EXPECT_EQ.
template <class E>
std::optional<E> error_of(const Expected<void, E>& checked) {
  return checked.ok() ? std::nullopt : std::optional<E>(checked.error());
}

}  // namespace orv
