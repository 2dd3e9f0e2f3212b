// The Rekor entry verifier over arbitrary text, with a fixed pinned log, signer key and
// artifact digest: no crash, no leak, and exactly one error for every failure.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz_rekor_fixture.h"
#include "tlog/rekor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv::tlog;
  static const RekorLog log = [] {
    orv::Expected<RekorLog, TlogError> made = make_rekor_log(orv::fuzz::kRekorOrigin, orv::fuzz::rekor_fuzz_log_spki_base64());
    if (!made) std::abort();
    return *made;
  }();
  static const Hash digest = orv::fuzz::rekor_fuzz_digest();
  static const std::vector<uint8_t> signer = orv::fuzz::rekor_fuzz_signer_spki();

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const orv::Expected<VerifiedRekorEntry, TlogError> result = verify_rekor_entry(text, digest, signer, log);
  if (!result && result.error().message.empty()) std::abort();
  return 0;
}
