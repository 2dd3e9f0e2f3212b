// The structural DER reader over arbitrary bytes: it must bound every input in linear time without
// reading past its end, and its verdict must not depend on what follows the bytes it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "core/byte_reader.h"
#include "tsa/der.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const auto verdict = orv::tsa::check_der_structure(bytes);
  if (verdict.ok()) (void)orv::tsa::has_minimal_encoding(bytes);

  // An exact-size copy makes any read past the end visible to the address sanitizer.
  const std::vector<uint8_t> copy(data, data + size);
  const auto again = orv::tsa::check_der_structure(copy);
  if (again.ok() != verdict.ok() || (!again.ok() && again.error() != verdict.error())) std::abort();

  orv::ByteReader reader(bytes);
  size_t read = 0;
  orv::DerElement element;
  while (reader.read_der(element)) {
    read += element.whole.size();
    if (element.contents.size() > element.whole.size()) std::abort();
  }
  if (read > size) std::abort();
  return 0;
}
