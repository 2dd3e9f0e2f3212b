// The refusal check over arbitrary documents under the example notary key; the corpus
// starts from the example refusal so that mutations reach every step.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_notary_support.h"
#include "json/document.h"
#include "sig/refusal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parsed = orv::json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (parsed) orv::fuzz::check_invariants(orv::sig::check_refusal(parsed->root(), orv::fuzz::notary_pin()));
  return 0;
}
