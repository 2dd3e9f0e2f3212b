// Text helpers: UTF-8 validation and decoding, terminal-safe escaping, Unicode trimming.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view bytes);

// Escapes control, invisible and bidirectional characters as \u{xxxx} so that a value read
// from an input cannot rewrite what the terminal shows. Input must be valid UTF-8.
std::string terminal_safe(std::string_view text);

// Removes leading and trailing Unicode white space (White_Space property), as a string trim.
std::string_view trim_unicode(std::string_view text);

// Decimal text of an unsigned number.
std::string decimal(uint64_t value);

}  // namespace orv
