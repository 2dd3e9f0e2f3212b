// The whole verification of mutated quotes against a fixed, valid real collateral. Whatever
// passes must carry exactly the signed header and report of the real quote: only Intel's
// quoting enclave key, bound through the PCK-signed QE report, can sign another.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "fuzz_dcap_fixture.h"

namespace {

std::optional<orv::fuzz::RealDcap> real;
std::optional<orv::dcap::VerifiedCollateral> verified;
std::vector<uint8_t> real_scope;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  real = orv::fuzz::load_real_dcap();
  if (!real) return 0;
  auto collateral = orv::dcap::verify_collateral(real->collateral, real->root, orv::fuzz::kRealNow);
  auto quote = orv::dcap::decode_quote(real->quote);
  if (!collateral || !quote) std::abort();
  verified = *collateral;
  real_scope.assign(real->quote.begin(), real->quote.begin() + static_cast<std::ptrdiff_t>(quote->signed_length));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!verified) return 0;
  // Even inputs start from the real quote with the input laid over it, so that most mutations
  // keep its structure; odd ones are judged as they are.
  std::vector<uint8_t> quote;
  if (size > 0 && data[0] % 2 == 0) {
    quote = real->quote;
    for (size_t i = 1; i + 2 < size; i += 3) {
      const size_t at = (static_cast<size_t>(data[i]) << 8 | data[i + 1]) % quote.size();
      quote[at] = data[i + 2];
    }
  } else {
    quote.assign(data, data + size);
  }
  orv::dcap::AcceptancePolicy policy;
  policy.min_tcb_evaluation_data_number = 17;
  const auto result = orv::dcap::verify_and_accept(quote, *verified, policy);
  if (!result) return 0;
  if (quote.size() < real_scope.size() || !std::equal(real_scope.begin(), real_scope.end(), quote.begin())) std::abort();
  if (result->tcb_status != orv::dcap::TcbStatus::UpToDate) std::abort();
  return 0;
}
