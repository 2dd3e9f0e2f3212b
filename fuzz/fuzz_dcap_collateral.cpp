// The whole verification of the real quote against mutated collateral fields. The first byte
// picks a field (its low bits); the rest either edits it in place (byte replacements,
// insertions, deletions) or, with the top bit set, replaces it; with bit 6 set the split path
// (collateral verified first) is run as well and must agree. Whatever passes must have kept
// both signed documents as Intel signed them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "fuzz_dcap_fixture.h"

namespace {

std::optional<orv::fuzz::RealDcap> real;

std::string& field(orv::dcap::QuoteCollateralV3& c, unsigned index) {
  switch (index % 10) {
    case 0: return c.pck_crl_issuer_chain;
    case 1: return c.root_ca_crl;
    case 2: return c.pck_crl;
    case 3: return c.tcb_info_issuer_chain;
    case 4: return c.tcb_info;
    case 5: return c.tcb_info_signature;
    case 6: return c.qe_identity_issuer_chain;
    case 7: return c.qe_identity;
    case 8: return c.qe_identity_signature;
    default:
      if (!c.pck_certificate_chain) {
        const auto quote = orv::dcap::decode_quote(real->quote);
        const auto& body = quote->auth_data.certification_data.body;
        c.pck_certificate_chain = std::string(body.begin(), body.end());
      }
      return *c.pck_certificate_chain;
  }
}

void edit(std::string& text, const uint8_t* data, size_t size) {
  for (size_t i = 0; i + 3 < size; i += 4) {
    const size_t at = text.empty() ? 0 : (static_cast<size_t>(data[i]) << 8 | data[i + 1]) % text.size();
    const char value = static_cast<char>(data[i + 2]);
    switch (data[i + 3] % 3) {
      case 0:
        if (!text.empty()) text[at] = value;
        break;
      case 1: text.insert(at, 1, value); break;
      default:
        if (!text.empty()) text.erase(at, 1);
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  real = orv::fuzz::load_real_dcap();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!real || size == 0) return 0;
  orv::dcap::QuoteCollateralV3 collateral = real->collateral;
  std::string& target = field(collateral, data[0] & 0x3F);
  if ((data[0] & 0x80) != 0) {
    target.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  } else {
    edit(target, data + 1, size - 1);
  }
  orv::dcap::AcceptancePolicy policy;
  policy.min_tcb_evaluation_data_number = 17;
  const auto result = orv::dcap::verify_and_accept(real->quote, collateral, real->root, orv::fuzz::kRealNow, policy);
  if ((data[0] & 0x40) != 0) {
    const auto split = orv::dcap::verify_collateral(collateral, real->root, orv::fuzz::kRealNow);
    const bool split_valid = split && orv::dcap::verify_and_accept(real->quote, *split, policy).ok();
    if (split_valid != result.ok()) std::abort();
  }
  if (!result) return 0;
  if (collateral.tcb_info != real->collateral.tcb_info || collateral.qe_identity != real->collateral.qe_identity) {
    std::abort();
  }
  return 0;
}
