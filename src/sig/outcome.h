// The outcome rule shared by every verdict of the receipt and chain commands.
#pragma once

#include <array>
#include <string_view>

#include "core/verdict.h"

namespace orv::sig {

// The codes by which the verifier declines to judge rather than finding the document wrong.
inline constexpr std::array<std::string_view, 5> kRefusingCodes = {
    "PIN_MISSING", "PIN_INVALID", "UNKNOWN_FORMAT", "INPUT_TOO_LARGE", "TOO_MANY_HEADS"};

inline void settle_outcome(ReceiptVerdict& verdict) {
  verdict.outcome = outcome_from(verdict.problems, kRefusingCodes);
  verdict.valid = verdict.outcome == Outcome::Valid;
}

}  // namespace orv::sig
