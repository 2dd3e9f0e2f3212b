#include "api/verifiers.h"

#include "sig/chain.h"
#include "sig/receipt.h"
#include "tdx/attested_record.h"
#include "tdx/key_chain.h"
#include "tdx/level2.h"
#include "tdx/log_evidence.h"
#include "trust/trust.h"
#include "tsa/authorities.h"
#include "tsa/stamp_file.h"

namespace orv::api {
namespace {

const std::vector<tsa::PinnedAuthority>& timestamp_authorities() {
  const trust::Trust& trust = trust::Trust::builtin();
  static const std::vector<tsa::PinnedAuthority> authorities =
      tsa::builtin_authorities(trust.digicert_root_der, trust.sigstore_tsa_root_der);
  return authorities;
}

}  // namespace

Verifiers builtin_verifiers() {
  Verifiers verifiers;
  verifiers.receipt = [](const ReceiptInputs& in) { return sig::check_receipt(in.document, in.key); };
  verifiers.chain = [](const ChainInputs& in) {
    return sig::check_chain(in.document, in.heads, in.key, in.keep_entries, in.progress);
  };
  verifiers.key_receipt = [](const KeyReceiptInputs& in, uint64_t now) {
    return tdx::evaluate_level2({in.document, in.key, in.snapshot, in.expected, now, trust::Trust::builtin().intel_root_der})
        .report;
  };
  verifiers.timestamp = [](const TimestampInputs& in, uint64_t now) {
    return tsa::verify_stamp_file(in.document, in.stamp, timestamp_authorities(), now);
  };
  verifiers.key_chain = [](const KeyChainInputs& in, uint64_t now) {
    tdx::KeyChainInputs inputs{in.history, in.contains, std::nullopt, in.expected, now, trust::Trust::builtin().intel_root_der,
                               in.progress};
    if (in.snapshot) inputs.snapshot = *in.snapshot;
    return tdx::verify_key_chain(inputs);
  };
  verifiers.attested_record = [](const AttestedRecordInputs& in, uint64_t now) {
    tdx::AttestedRecordInputs inputs{in.record,
                                     in.key_receipt,
                                     in.snapshot,
                                     in.expected,
                                     std::nullopt,
                                     now,
                                     trust::Trust::builtin().intel_root_der,
                                     timestamp_authorities()};
    if (in.stamp) inputs.stamp = *in.stamp;
    return tdx::verify_attested_record(inputs);
  };
  verifiers.log_evidence = [](const LogEvidenceInputs& in) {
    const trust::Trust& trust = trust::Trust::builtin();
    static const tdx::LogEvidenceTrust log_trust = tdx::make_log_evidence_trust(trust.sigsum_policy, trust.rekor_log);
    return tdx::verify_log_evidence(in.receipt, in.evidence, log_trust);
  };
  return verifiers;
}

}  // namespace orv::api
