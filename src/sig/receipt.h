// The receipt command: size limits, parsing, format detection and dispatch to the check of
// the detected format (live record, lab receipt, refusal).
#pragma once

#include <string_view>

#include "json/document.h"
#include "sig/verdict.h"

namespace orv::sig {

ReceiptVerdict check_receipt(std::string_view document, std::string_view pinned_key);

// Which check a parsed document goes to: refusal, lab receipt, live record, or none.
ReceiptFormat detect_format(const json::Value& document);

}  // namespace orv::sig
