// Refusals: the notary's signed statement that it declined to release a job's result.
#pragma once

#include <string_view>

#include "json/document.h"
#include "sig/notary_pin.h"
#include "sig/verdict.h"

namespace orv::sig {

inline constexpr std::string_view kRefusalSchema = "tamsel-fabric/refusal/v1";

ReceiptVerdict check_refusal(const json::Value& document, std::string_view pinned_key);
ReceiptVerdict check_refusal(const json::Value& document, const NotaryPin& pin);

}  // namespace orv::sig
