// Decimal renderings of doubles, both from the shortest digit string that reads back as the
// same double. Internal to src/json.
#pragma once

#include <string>

namespace orv::json::detail {

// Plain decimal, never an exponent: 1e2 -> "100", 1e-7 -> "0.0000001", -0.0 -> "-0".
// The value must be finite.
std::string plain_decimal(double value);

// ECMAScript Number::toString, as RFC 8785 prescribes: 1e21 -> "1e+21", 1e-7 -> "1e-7",
// 0.000001 -> "0.000001", -0.0 -> "0". The value must be finite.
std::string ecmascript_number(double value);

}  // namespace orv::json::detail
