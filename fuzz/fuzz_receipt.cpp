// The receipt command's verifier over arbitrary documents, pinned to the example's real service
// key so that inputs grown from the example corpus reach the signature check too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "sig/receipt.h"

namespace {

std::string pin;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::ifstream in(ORV_SOURCE_DIR "/examples/live-service-key.hex");
  std::ostringstream text;
  text << in.rdbuf();
  pin = text.str();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view document(reinterpret_cast<const char*>(data), size);
  const orv::sig::ReceiptVerdict verdict = orv::sig::check_receipt(document, pin);
  // A verdict is valid exactly when it has no problems, and only a live record under the pin
  // can be valid in this build.
  if (verdict.valid != verdict.problems.empty()) std::abort();
  if (verdict.valid != (verdict.outcome == orv::Outcome::Valid)) std::abort();
  if (verdict.valid && (verdict.format != orv::sig::ReceiptFormat::LiveRecord || verdict.facts.empty())) std::abort();
  return 0;
}
