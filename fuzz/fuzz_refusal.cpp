// The refusal check over arbitrary documents under the example notary key; the corpus
// starts from the example refusal so that mutations reach every step.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_notary_support.h"
#include "json/document.h"
#include "sig/refusal.h"

namespace {
std::string pin;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pin = orv::fuzz::read_example("notary-key.pem");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const orv::Result<orv::json::Document> parsed =
      orv::json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!parsed) return 0;
  orv::fuzz::check_invariants(orv::sig::check_refusal(parsed->root(), pin));
  return 0;
}
