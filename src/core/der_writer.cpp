#include "core/der_writer.h"

#include <algorithm>

#include "core/byte_reader.h"

namespace orv {

bool append_der(std::vector<uint8_t>& out, uint8_t tag, std::span<const uint8_t> contents) {
  const size_t length = contents.size();
  if (length >> (8 * kMaxDerLengthOctets) != 0) return false;
  out.push_back(tag);
  if (length < 0x80) {
    out.push_back(static_cast<uint8_t>(length));
  } else {
    size_t octets = 1;
    while (length >> (8 * octets) != 0) ++octets;
    out.push_back(static_cast<uint8_t>(0x80 | octets));
    for (size_t i = octets; i-- > 0;) out.push_back(static_cast<uint8_t>(length >> (8 * i)));
  }
  out.insert(out.end(), contents.begin(), contents.end());
  return true;
}

void sort_der_set(std::vector<std::vector<uint8_t>>& members) {
  // Lexicographic order agrees with zero padding except where a member is a prefix of another
  // followed only by zeros, a tie either order satisfies.
  std::sort(members.begin(), members.end(), [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
      if (a[i] != b[i]) return a[i] < b[i];
    }
    return a.size() < b.size();
  });
}

}  // namespace orv
