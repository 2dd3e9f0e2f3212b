// The bodies of Intel's service as it sends them: a signed JSON document inside a wrapper
// object ({"tcbInfo":{...},"signature":"<hex>"}), and CRLs in DER or PEM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "prepare/outcome.h"

namespace orv::prepare {

// More than any TCB info, QE identity or CRL Intel publishes; the snapshot holding them all
// must itself stay within the verifier's 1 MiB.
inline constexpr size_t kMaxBodyBytes = 1048576;

struct SignedBody {
  std::string signed_text;  // the exact bytes of the signed member's value, never re-serialised
  std::string signature;    // the signature member's text
};

// The wrapper must be one JSON object with exactly the members `member` (an object) and
// "signature" (a string).
Expected<SignedBody, Reason> cut_signed_body(std::string_view body, std::string_view member);

// Where the value of a top-level member starts and ends in the text of a JSON object that has
// already been parsed as valid; nullopt when no member is written with exactly that name.
std::optional<std::pair<size_t, size_t>> member_value_span(std::string_view object_text, std::string_view name);

// A CRL body as DER: DER as it stands, or the one "X509 CRL" block of a PEM text.
Expected<std::vector<uint8_t>, Reason> crl_der(std::string_view body);

}  // namespace orv::prepare
