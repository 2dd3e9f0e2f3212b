// Quote verification against Intel's collateral and one pinned root: the collateral's own
// checks (chains, CRLs, TCB info and QE identity signatures and dates), done once per snapshot
// and reusable, and the per-quote checks that follow, up to the TCB status and the policy.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dcap/failure.h"
#include "dcap/pck_extension.h"
#include "dcap/quote.h"
#include "dcap/tcb.h"
#include "dcap/tcb_info.h"

namespace orv::dcap {

// Intel's collateral as a snapshot carries it: PEM chains, CRLs in hex, the TCB info and QE
// identity as their exact signed text with hex r||s signatures.
struct QuoteCollateralV3 {
  std::string pck_crl_issuer_chain;
  std::string root_ca_crl;
  std::string pck_crl;
  std::string tcb_info_issuer_chain;
  std::string tcb_info;
  std::string tcb_info_signature;
  std::string qe_identity_issuer_chain;
  std::string qe_identity;
  std::string qe_identity_signature;
  std::optional<std::string> pck_certificate_chain;  // used instead of the quote's own chain
};

struct VerifyOptions {
  bool debug_allowed = false;
  bool service_td_allowed = false;
};

// Seconds since the epoch; windows are notBefore/thisUpdate to notAfter/nextUpdate.
struct CollateralTimes {
  int64_t tcb_info_issue_date = 0;
  int64_t tcb_info_next_update = 0;
  int64_t qe_identity_issue_date = 0;
  int64_t qe_identity_next_update = 0;
  int64_t root_ca_crl_this_update = 0;
  int64_t root_ca_crl_next_update = 0;
  int64_t pck_crl_this_update = 0;
  int64_t pck_crl_next_update = 0;
  uint32_t root_ca_crl_number = 0;
  uint32_t pck_crl_number = 0;
  int64_t root_not_before = 0;
  int64_t root_not_after = 0;
  // The earliest of both documents' nextUpdate, both CRLs' nextUpdate and the notAfter of the
  // root and of every certificate in the TCB info and QE identity chains.
  int64_t earliest_expiration = 0;
};

struct VerifiedQuote {
  Quote quote;
  TcbStatus tcb_status = TcbStatus::Revoked;  // after every merge
  std::vector<std::string> advisory_ids;      // platform level, then the module level's new ones
  PckExtensions pck;                          // FMSPC, CPUSVN, PCESVN, SGX type, flags
  uint32_t tcb_evaluation_data_number = 0;    // the smaller of the two documents'
  uint64_t earliest_expiration = 0;           // the collateral's, lowered by the PCK chain
  TcbLevel platform_tcb_level;
  std::optional<ModuleLevel> module_tcb_level;
  QeTcbLevel qe_tcb_level;
  Supplemental supplemental;
};

struct CollateralState;

// Collateral whose chains, CRLs, signatures and dates were verified at one evaluation time.
// Copies share one state; quotes judged against it reuse the work, including the validation of
// a PCK chain seen before and of the last quote, if judged again. Not for use from several
// threads at once.
class VerifiedCollateral {
 public:
  // Only verify_collateral makes the state; its type is private to the verification.
  explicit VerifiedCollateral(std::shared_ptr<CollateralState> state) : state_(std::move(state)) {}

  uint64_t evaluated_at() const;
  const TcbInfo& tcb_info() const;
  const QeIdentity& qe_identity() const;
  const CollateralTimes& times() const;
  CollateralState& state() const { return *state_; }

 private:
  std::shared_ptr<CollateralState> state_;
};

// Steps that depend on the collateral alone, in order: the pinned root ("Failed to load root
// ca"), both CRLs, the TCB info and the QE identity (dates, issuer chains, signatures), then
// the time values.
Expected<VerifiedCollateral, Failure> verify_collateral(const QuoteCollateralV3& collateral, std::span<const uint8_t> root_der,
                                                        uint64_t now);

// Decoding and every per-quote check up to the TCB status and the report checks; no policy.
Expected<VerifiedQuote, Failure> verify_quote(std::span<const uint8_t> raw_quote, const VerifiedCollateral& collateral,
                                              VerifyOptions options = {});

// The same in one call, failing at the first check in the documented order (the quote is
// decoded after the CRLs and before the TCB info).
Expected<VerifiedQuote, Failure> verify_quote(std::span<const uint8_t> raw_quote, const QuoteCollateralV3& collateral,
                                              std::span<const uint8_t> root_der, uint64_t now, VerifyOptions options = {});

// Verification followed by the acceptance policy at the collateral's evaluation time.
Expected<VerifiedQuote, Failure> verify_and_accept(std::span<const uint8_t> raw_quote, const VerifiedCollateral& collateral,
                                                   const AcceptancePolicy& policy, VerifyOptions options = {});
Expected<VerifiedQuote, Failure> verify_and_accept(std::span<const uint8_t> raw_quote, const QuoteCollateralV3& collateral,
                                                   std::span<const uint8_t> root_der, uint64_t now,
                                                   const AcceptancePolicy& policy, VerifyOptions options = {});

}  // namespace orv::dcap
