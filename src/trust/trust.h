// The roots of trust the user does not pin: compiled in, passed to the verifiers as data.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace orv::trust {

struct Trust {
  std::span<const uint8_t> intel_root_der;         // Intel SGX Root CA
  std::span<const uint8_t> digicert_root_der;      // DigiCert Trusted Root G4
  std::span<const uint8_t> sigstore_tsa_root_der;  // Sigstore's timestamp-authority root
  // Sigstore's timestamp signer, which its tokens name but do not carry. Not an anchor: it only
  // completes a path, which must still end at the pinned root.
  std::span<const uint8_t> sigstore_tsa_signer_der;
  std::string_view sigsum_policy;               // the Sigsum trust policy text
  std::span<const uint8_t> rekor_key_spki_der;  // the pinned Rekor log's Ed25519 key
  std::string_view rekor_log;                   // the pinned Rekor log's description (origin, key)

  // The material embedded from trust/; nothing at run time can replace it.
  static const Trust& builtin();
};

// One embedded file by name; empty when there is no such file.
std::span<const uint8_t> builtin_file(std::string_view name);

}  // namespace orv::trust
