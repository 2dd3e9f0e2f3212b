// Re-encoding what a timestamp authority returns, for the fixed test authority of the token
// target. Whatever the input, a re-encoded token is a fixed point (re-encoding it again gives the
// same bytes), and the only tokens that may verify are the ones the authority issued: anything
// else would mean the re-encoding forged or re-spelled a signed token.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "fuzz_timestamp_authority.h"
#include "tsa/reencode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<orv::tsa::PinnedAuthority> authorities = {orv::fuzz::test_authority()};
  const auto token = orv::tsa::token_from_response(std::span<const uint8_t>(data, size));
  if (!token) return 0;
  const std::span<const uint8_t> subject = orv::as_bytes(orv::fuzz::kTimestampSubject);
  const auto made = orv::tsa::reencode_token(*token, subject, {}, authorities);
  if (!made) return 0;
  const auto again = orv::tsa::reencode_token(made->token, subject, {}, authorities);
  if (!again || again->token != made->token) std::abort();
  if (orv::tsa::verify_timestamp_token(made->token, subject, *made->authority, orv::fuzz::kTimestampNow)) {
    const std::string digest = orv::crypto::sha256_hex(made->token);
    if (std::find(std::begin(orv::fuzz::kIssuedTokens), std::end(orv::fuzz::kIssuedTokens), digest) ==
        std::end(orv::fuzz::kIssuedTokens)) {
      std::abort();
    }
  }
  return 0;
}
