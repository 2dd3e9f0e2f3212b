// Turning what a timestamp authority returns into the one form the token verifier judges. Only
// what no signature covers is written afresh: the certificate set, reduced to the path from the
// signer to a pinned root and put in DER order, and the lengths of the elements that enclose
// it. The encapsulated TSTInfo, the signer info (signed attributes and signature) and every
// certificate are copied byte for byte.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/result.h"
#include "tsa/token.h"

namespace orv::tsa {

// A TimeStampResp carries a status and the token; a little more than the token's own limit.
inline constexpr size_t kMaxResponseBytes = 2 * kMaxTokenBytes;

// The token of a granted TimeStampResp (RFC 3161 section 2.4.2), or bytes that already are a
// token (a ContentInfo); otherwise why not, in words: the status an authority refused with,
// with its text and failure reasons.
Expected<std::vector<uint8_t>, std::string> token_from_response(std::span<const uint8_t> bytes);

enum class ReencodeFault {
  NotUsable,         // not a token this verifier could ever accept, whatever is done to it
  OtherBytes,        // the imprint is the hash of other bytes than the subject
  SignerMissing,     // the signer's certificate is neither in the token nor given
  IssuerMissing,     // the path stops at a certificate whose issuer is neither given nor pinned
  UnknownAuthority,  // the path ends at a root that is not pinned
};

struct ReencodeFailure {
  ReencodeFault fault;
  std::string text;
};

struct Reencoded {
  std::vector<uint8_t> token;
  const PinnedAuthority* authority = nullptr;  // the one whose root the signer chains to
};

// The token re-encoded around the path from its signer to the root of one of `authorities`,
// drawn from the certificates it carries and `offered` (DER certificates the user or the program
// supplies; neither is trusted, each must be on the path). Whether the result verifies is the
// token verifier's to say: a token whose signed parts are not DER stays not DER.
Expected<Reencoded, ReencodeFailure> reencode_token(std::span<const uint8_t> token, std::span<const uint8_t> subject,
                                                    std::span<const std::vector<uint8_t>> offered,
                                                    std::span<const PinnedAuthority> authorities);

}  // namespace orv::tsa
