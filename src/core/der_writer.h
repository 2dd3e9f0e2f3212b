// Writing DER: an element from its tag and contents, with its length in the shortest form, and
// the order DER gives the members of a SET OF. Only what re-encoding the unsigned parts of a
// structure needs; everything a signature covers is copied, never written afresh.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace orv {

// Appends tag, shortest-form length and contents. Lengths are bounded as the reader bounds
// them (below 16 MiB); a longer contents is a caller's error and yields false, appending nothing.
[[nodiscard]] bool append_der(std::vector<uint8_t>& out, uint8_t tag, std::span<const uint8_t> contents);

// Sorts whole encodings into DER SET OF order (X.690 11.6): as octet strings, the shorter padded
// with trailing zero octets.
void sort_der_set(std::vector<std::vector<uint8_t>>& members);

}  // namespace orv
