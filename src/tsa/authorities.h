// The timestamp authorities compiled into the program: names, root fingerprints and policies.
// The root certificates themselves are trust material the build embeds; they come in as bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "tsa/token.h"

namespace orv::tsa {

inline constexpr std::string_view kDigiCertRootFingerprint = "552f7bdcf1a7af9e6ce672017f4f12abf77240c78e761ac203d1d9d20ac89988";
inline constexpr std::string_view kSigstoreRootFingerprint = "2aca8fea5d3ce48b01cc77076293c280e6c23ffe44034757ee7833ca9f45d633";

// In table order: "DigiCert" (DigiCert Trusted Root G4), then "Sigstore" (sigstore-tsa-selfsigned).
// The fingerprints are fixed here, not computed from the bytes given, so that wrong bytes are
// refused by every token verification instead of being trusted.
std::vector<PinnedAuthority> builtin_authorities(std::span<const uint8_t> digicert_root_der,
                                                 std::span<const uint8_t> sigstore_root_der);

}  // namespace orv::tsa
