// RFC 3161 timestamps: the strict DER structure walk that bounds a token before any decoder
// sees it, and the canonical-form check of what a decode-and-encode cycle cannot see.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/result.h"

namespace orv::tsa {

inline constexpr size_t kMaxDerDepth = 24;
inline constexpr size_t kMaxDerElements = 4096;
inline constexpr size_t kMaxSetMembers = 16;

// Walks the whole byte string as a sequence of elements: single-byte tags, definite lengths of
// at most three length octets, every element inside its parent, nesting at most 24 deep, at most
// 4096 elements and at most 16 members in any SET. Decodes no values and allocates nothing.
// When the bytes are not well formed, the fixed message of the first failure.
Expected<void, std::string> check_der_structure(std::span<const uint8_t> bytes);

// Beyond what a decode-and-encode cycle can see: the library keeps some values verbatim (ANY
// values, names inside decoded certificates), so every length in the constructed tree must be
// in its shortest form and every BOOLEAN must be 00 or FF. Primitive contents are not entered.
// Expects bytes that passed check_der_structure.
bool has_minimal_encoding(std::span<const uint8_t> bytes);

}  // namespace orv::tsa
