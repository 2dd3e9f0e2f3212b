// The usage text and the version line, the program's fixed self-description.
#pragma once

#include <string_view>

namespace orv::cli {

// 60 lines joined by newlines, without a newline after the last one.
std::string_view usage_text();

// "orvelant-verify 0.1.0", without a newline.
std::string_view version_line();

}  // namespace orv::cli
