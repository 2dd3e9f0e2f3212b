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

// The verdict with one more problem, settled: for checks that end at their first problem.
inline ReceiptVerdict settled(ReceiptVerdict verdict, Problem problem) {
  verdict.problems.push_back(std::move(problem));
  settle_outcome(verdict);
  return verdict;
}

}  // namespace orv::sig
