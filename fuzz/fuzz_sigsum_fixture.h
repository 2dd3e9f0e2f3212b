// The fixed trust of the Sigsum fuzz target: keys derived from fixed labels, so that the
// committed seeds (valid proofs, written by tests/tlog/fuzz_seeds_test.cpp) verify in full and
// the fuzzer starts from the deepest paths. Shared by the target and the seed test.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include <openssl/evp.h>

#include "core/hex.h"
#include "crypto/digest.h"
#include "crypto/ed25519.h"

namespace orv::fuzz {

inline constexpr std::string_view kSigsumLogLabels[] = {"fuzz sigsum log 1", "fuzz sigsum log 2"};
inline constexpr std::string_view kSigsumWitnessLabels[] = {"fuzz sigsum witness 1", "fuzz sigsum witness 2",
                                                            "fuzz sigsum witness 3"};
inline constexpr std::string_view kSigsumSubmitterLabel = "fuzz sigsum submitter";

// The Ed25519 private seed of a label: SHA-256 of the label.
inline std::array<uint8_t, 32> seed_of(std::string_view label) { return crypto::sha256(as_bytes(label)); }

inline crypto::Ed25519Key ed25519_public_of(std::string_view label) {
  const std::array<uint8_t, 32> seed = seed_of(label);
  crypto::Ed25519Key key{};
  EVP_PKEY* pkey = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size());
  size_t len = key.size();
  if (pkey != nullptr) EVP_PKEY_get_raw_public_key(pkey, key.data(), &len);
  EVP_PKEY_free(pkey);
  return key;
}

inline std::array<uint8_t, 32> sigsum_fuzz_message() { return crypto::sha256(as_bytes("fuzz sigsum message")); }

// Two logs, three witnesses, 2 of 3: the shape of the compiled-in policy.
inline std::string sigsum_fuzz_policy_text() {
  std::string text;
  for (const std::string_view label : kSigsumLogLabels) text += "log " + hex_encode(ed25519_public_of(label)) + "\n";
  std::string group = "group quorum-rule 2";
  for (size_t i = 0; i < std::size(kSigsumWitnessLabels); ++i) {
    const std::string name = "witness-" + std::to_string(i + 1);
    text += "witness " + name + " " + hex_encode(ed25519_public_of(kSigsumWitnessLabels[i])) + "\n";
    group += " " + name;
  }
  return text + group + "\nquorum quorum-rule\n";
}

}  // namespace orv::fuzz
