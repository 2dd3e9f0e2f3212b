// Verification of one RFC 3161 timestamp token over the exact bytes of a file, on the word of one
// pinned authority. Narrower than RFC 3161 and RFC 5652 allow: one signer, X.509 certificates
// only, signed attributes with signing-certificate-v2, SHA-2 digests, RSA PKCS#1 v1.5 or ECDSA,
// every carried certificate on the verified path, and the SignedData in canonical DER.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/result.h"
#include "core/verdict.h"

namespace orv::tsa {

inline constexpr size_t kMaxTokenBytes = 65536;
// How far genTime may run ahead of the local clock before the token is refused.
inline constexpr uint64_t kClockSkewSeconds = 300;

// A timestamp authority whose root is compiled into the program.
struct PinnedAuthority {
  std::string name;               // what a stamp token's `tsa` must equal, byte for byte
  std::vector<uint8_t> root_der;  // a self-signed X.509 root
  std::string root_fingerprint;   // SHA-256 of root_der, 64 lowercase hex digits
  std::string policy;             // the TSTInfo policy every token of this authority carries
};

struct StampResult {
  std::string tsa;
  std::string gen_time;
  uint64_t gen_time_unix = 0;
  std::optional<uint64_t> accuracy_ms;
  std::string no_later_than;
  uint64_t no_later_than_unix = 0;
  std::string imprint_alg;
  std::string serial_hex;
  std::string policy;
  std::string signer;
  std::optional<std::string> nonce_hex;
};

// The facts of one verified token.
using Stamp = StampResult;

// A Stamp, or the one problem that ended verification (the first failing check decides).
// `now` is the caller's one clock reading; nothing here reads a clock, a file or keeps state.
Expected<Stamp, Problem> verify_timestamp_token(std::span<const uint8_t> token, std::span<const uint8_t> subject,
                                                const PinnedAuthority& authority, uint64_t now);

}  // namespace orv::tsa
