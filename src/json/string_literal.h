// The one JSON string writer: the canonical form and the --json report escape alike (the two
// quotes, the backslash, \b \t \n \f \r, other control characters as lowercase \u00xx) and
// pass every other byte through, so a consumer sees the exact value.
#pragma once

#include <string>
#include <string_view>

namespace orv::json {

void append_string_literal(std::string& out, std::string_view text);

}  // namespace orv::json
