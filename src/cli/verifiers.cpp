#include "cli/verifiers.h"

#include "sig/chain.h"
#include "sig/receipt.h"
#include "tdx/level2.h"
#include "trust/trust.h"
#include "tsa/authorities.h"
#include "tsa/stamp_file.h"

namespace orv::cli {

Verifiers builtin_verifiers() {
  Verifiers verifiers;
  verifiers.receipt = [](const ReceiptInputs& in) { return sig::check_receipt(in.document, in.key); };
  verifiers.chain = [](const ChainInputs& in) {
    return sig::check_chain(in.document, in.heads, in.key, in.keep_entries);
  };
  verifiers.key_receipt = [](const KeyReceiptInputs& in, uint64_t now) {
    return tdx::evaluate_level2({in.document, in.key, in.snapshot, in.expected, now, trust::Trust::builtin().intel_root_der})
        .report;
  };
  verifiers.timestamp = [](const TimestampInputs& in, uint64_t now) {
    const trust::Trust& trust = trust::Trust::builtin();
    static const std::vector<tsa::PinnedAuthority> authorities =
        tsa::builtin_authorities(trust.digicert_root_der, trust.sigstore_tsa_root_der);
    return tsa::verify_stamp_file(in.document, in.stamp, authorities, now);
  };
  return verifiers;
}

}  // namespace orv::cli
