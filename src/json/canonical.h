// RFC 8785 canonical JSON writer with the I-JSON number domain.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.h"
#include "json/document.h"

namespace orv::json {

// Canonical bytes of a parsed value, or "value is not JCS-serializable: {}".
Result<std::string> canonicalize(const Value& value);

}  // namespace orv::json
