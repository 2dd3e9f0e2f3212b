// Readable test failure output for verdict values.
#pragma once

#include <ostream>

#include "core/verdict.h"

namespace orv {

inline std::ostream& operator<<(std::ostream& out, const ProblemCode& code) { return out << code.text(); }

inline void PrintTo(const Problem& problem, std::ostream* out) {
  *out << "{" << problem.code.text() << ", \"" << problem.message << "\", line " << problem.line << "}";
}

inline void PrintTo(Outcome outcome, std::ostream* out) { *out << outcome_word(outcome); }

}  // namespace orv
