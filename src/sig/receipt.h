// The receipt command: size limits, parsing, format detection and dispatch to the check of
// the detected format (live record, lab receipt, refusal).
#pragma once

#include <optional>
#include <string_view>

#include "core/verdict.h"
#include "json/document.h"

namespace orv::sig {

struct ReceiptCheck {
  ReceiptFormat format = ReceiptFormat::Unknown;
  // Absent when the detected format's check is not part of this build.
  std::optional<ReceiptVerdict> verdict;
};

ReceiptCheck check_receipt(std::string_view document, std::string_view pinned_key);

// Which check a parsed document goes to: refusal, lab receipt, live record, or none.
ReceiptFormat detect_format(const json::Value& document);

}  // namespace orv::sig
