// The outcome rule shared by every verdict of the receipt and chain commands.
#pragma once

#include "core/verdict.h"

namespace orv::sig {

inline void settle_outcome(ReceiptVerdict& verdict) {
  verdict.outcome = outcome_from(verdict.problems);
  verdict.valid = verdict.outcome == Outcome::Valid;
}

}  // namespace orv::sig
