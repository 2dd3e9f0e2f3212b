// What every verdict is made of: its outcome and the problems that decide it. Each command's
// report lives with the verifier that produces it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/problem_codes.h"

namespace orv {

enum class Outcome { Valid, Invalid, Refused };

std::string_view outcome_word(Outcome outcome);  // "VALID", "INVALID", "REFUSED"
std::string_view outcome_json(Outcome outcome);  // "valid", "invalid", "refused"
int exit_status(Outcome outcome);                // 0, 1, 2

struct Problem {
  ProblemCode code;
  std::string message;
  uint64_t line = 0;  // 1-based; only the chain and key-chain reports show it

  bool operator==(const Problem&) const = default;
};

// std::string compares as unsigned bytes, so this map iterates in byte order.
using TextMap = std::map<std::string, std::string>;

// REFUSED when any problem carries a refusing code, else INVALID when there is any problem, else
// VALID.
Outcome outcome_from(const std::vector<Problem>& problems);

bool has_code(const std::vector<Problem>& problems, std::string_view code);

}  // namespace orv
