#include "core/verdict.h"

#include <algorithm>

namespace orv {

std::string_view outcome_word(Outcome outcome) {
  switch (outcome) {
    case Outcome::Valid: return "VALID";
    case Outcome::Invalid: return "INVALID";
    case Outcome::Refused: return "REFUSED";
  }
  return "REFUSED";
}

std::string_view outcome_json(Outcome outcome) {
  switch (outcome) {
    case Outcome::Valid: return "valid";
    case Outcome::Invalid: return "invalid";
    case Outcome::Refused: return "refused";
  }
  return "refused";
}

int exit_status(Outcome outcome) {
  switch (outcome) {
    case Outcome::Valid: return 0;
    case Outcome::Invalid: return 1;
    case Outcome::Refused: return 2;
  }
  return 2;
}

bool has_code(const std::vector<Problem>& problems, std::string_view code) {
  return std::any_of(problems.begin(), problems.end(), [&](const Problem& p) { return p.code == code; });
}

Outcome outcome_from(const std::vector<Problem>& problems) {
  if (std::any_of(problems.begin(), problems.end(), [](const Problem& p) { return p.code.refuses(); })) {
    return Outcome::Refused;
  }
  return problems.empty() ? Outcome::Valid : Outcome::Invalid;
}

}  // namespace orv
