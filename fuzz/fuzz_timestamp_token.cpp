// Token verification against one fixed test authority. Inputs grown from its two seed tokens reach
// every check; the only tokens that may ever verify are the two the authority issued, so any other
// VALID result would be a forgery or a second encoding of a signed token.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <variant>

#include "fuzz_timestamp_authority.h"

namespace {

const orv::tsa::PinnedAuthority& authority() {
  static const orv::tsa::PinnedAuthority value = orv::fuzz::test_authority();
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> token(data, size);
  const auto result =
      orv::tsa::verify_timestamp_token(token, orv::as_bytes(orv::fuzz::kTimestampSubject), authority(), orv::fuzz::kTimestampNow);
  if (!result) {
    if (!result.error().code.text().starts_with("TIMESTAMP_") || result.error().message.empty()) std::abort();
    return 0;
  }
  const std::string digest = orv::crypto::sha256_hex(token);
  if (std::find(std::begin(orv::fuzz::kIssuedTokens), std::end(orv::fuzz::kIssuedTokens), digest) ==
      std::end(orv::fuzz::kIssuedTokens)) {
    std::abort();
  }
  return 0;
}
