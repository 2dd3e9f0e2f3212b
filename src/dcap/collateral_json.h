// Intel's collateral as the JSON object a snapshot carries: the ten QuoteCollateralV3 values.
#pragma once

#include <span>

#include "core/result.h"
#include "dcap/verify.h"
#include "json/document.h"
#include "json/record.h"

namespace orv::dcap {

// The member list, for callers that tell an unknown name apart from the rest of the shape.
std::span<const json::Field> collateral_fields();

// The collateral, or the mapping message (unknown, missing or mistyped members).
Expected<QuoteCollateralV3, std::string> read_collateral(const json::Value& object);

}  // namespace orv::dcap
