// Rekor entries of kind hashedrekord 0.0.2 from one pinned log: the log identity, and the
// checks that an entry is that log's, included under a checkpoint the log signed, and a
// P-256 signature by the expected key over the expected artifact digest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "crypto/ed25519.h"
#include "json/document.h"
#include "tlog/merkle.h"
#include "tlog/tlog_error.h"

namespace orv::tlog {

inline constexpr size_t kMaxRekorBodyBytes = 65536;
inline constexpr size_t kMaxRekorInclusionHashes = 64;

struct RekorLog {
  std::string origin;  // the first line of its checkpoints and the name of their signatures
  crypto::Ed25519Key key{};
  Hash log_id{};  // note key identifier of (origin, key); entries carry it as logId.keyId
};

// The pinned log from its origin and the standard base64 of its DER SubjectPublicKeyInfo.
// TLOG_PARSE "log key is not an Ed25519 SPKI" when the DER is not the 12-byte Ed25519 SPKI
// prefix and a 32-byte key; "log origin is not a valid note key name" for an unusable origin.
Expected<RekorLog, TlogError> make_rekor_log(std::string_view origin, std::string_view spki_base64);
// The same from the DER bytes themselves.
Expected<RekorLog, TlogError> make_rekor_log(std::string_view origin, std::span<const uint8_t> spki_der);

// The same from the trust file's "name: value" lines: `origin` and `key_spki_base64` are
// required; `log_id_base64`, `log_id_hex` and `key_ed25519_raw_hex`, where present, must agree
// with what the two give, so that a mis-edited file cannot pin a log other than it claims.
Expected<RekorLog, TlogError> read_rekor_log_file(std::string_view text);

struct VerifiedRekorEntry {
  uint64_t log_index = 0;
};

// The entry as a parsed JSON value (the caller reports text that is not JSON), checked against
// the expected 32-byte artifact digest and the expected signer key (DER SPKI of a P-256 key).
Expected<VerifiedRekorEntry, TlogError> verify_rekor_entry(const json::Value& entry, const Hash& artifact_digest,
                                                           std::span<const uint8_t> signer_spki, const RekorLog& log);

// The same from JSON text; text that does not parse yields TLOG_PARSE "tlog entry is not JSON".
Expected<VerifiedRekorEntry, TlogError> verify_rekor_entry(std::string_view entry_json, const Hash& artifact_digest,
                                                           std::span<const uint8_t> signer_spki, const RekorLog& log);

}  // namespace orv::tlog
