// What the receipt and chain commands report for one document, and the rule that settles it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/verdict.h"

namespace orv::sig {

enum class ReceiptFormat { LabReceipt, LiveRecord, Refusal, Unknown };
std::string_view format_word(ReceiptFormat format);  // "lab-receipt", "live-record", ...

struct ReceiptVerdict {
  ReceiptFormat format = ReceiptFormat::Unknown;
  Outcome outcome = Outcome::Refused;
  bool valid = false;
  std::vector<Problem> problems;
  TextMap facts;
  TextMap intermediate;
  std::string scope;
};

inline void settle_outcome(ReceiptVerdict& verdict) {
  verdict.outcome = outcome_from(verdict.problems);
  verdict.valid = verdict.outcome == Outcome::Valid;
}

}  // namespace orv::sig
