// The notary's pinned P-384 key, read once and shared by lab receipts, refusals and chains.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "crypto/ecdsa.h"
#include "sig/verdict.h"

namespace orv::sig {

struct NotaryPin {
  std::string stripped_text;  // the pin with PEM white space removed, for embedded-key comparisons
  std::vector<uint8_t> der;
  crypto::P384PublicKey key;
};

// The pin, or PIN_MISSING / PIN_INVALID; `documents` names what needs the key ("lab receipts").
Expected<NotaryPin, Problem> read_notary_pin(std::string_view pinned_text, std::string_view documents);

}  // namespace orv::sig
