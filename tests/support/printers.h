// Readable test failure output for verdict values.
#pragma once

#include <ostream>

#include "core/verdict.h"

namespace orv {

inline void PrintTo(const Problem& problem, std::ostream* out) {
  *out << "{" << problem.code << ", \"" << problem.message << "\", line " << problem.line << "}";
}

inline void PrintTo(Outcome outcome, std::ostream* out) { *out << outcome_word(outcome); }

}  // namespace orv
