// The Sigsum proof verifier over arbitrary text, under a policy shaped like the compiled-in
// one: no crash, exactly one error for every failure, and nothing verified that breaks the
// bounds the checks promise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

#include "fuzz_sigsum_fixture.h"
#include "tlog/sigsum.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv::tlog;
  static const SigsumPolicy policy = [] {
    orv::Expected<SigsumPolicy, TlogError> parsed = parse_sigsum_policy(orv::fuzz::sigsum_fuzz_policy_text());
    if (!parsed) std::abort();
    return *parsed;
  }();
  static const Hash message = orv::fuzz::sigsum_fuzz_message();
  static const orv::crypto::Ed25519Key submitter = orv::fuzz::ed25519_public_of(orv::fuzz::kSigsumSubmitterLabel);

  const std::string_view proof(reinterpret_cast<const char*>(data), size);
  const orv::Expected<VerifiedSigsumProof, TlogError> result = verify_sigsum_proof(proof, message, submitter, policy);
  if (!result) {
    if (result.error().message.empty()) std::abort();
    return 0;
  }
  if (result->tree_size == 0 || result->tree_size > kMaxSigsumTreeSize) std::abort();
  if (result->leaf_index >= result->tree_size) std::abort();
  std::set<std::string> names;
  for (const SigsumCosignature& cosignature : result->witnesses) names.insert(cosignature.witness);
  if (names.size() != result->witnesses.size() || names.size() < 2) std::abort();
  return 0;
}
