#include "prepare/collateral_pieces.h"

#include <algorithm>

#include "core/hex.h"
#include "core/text.h"
#include "core/time_text.h"
#include "prepare/verifier.h"

namespace orv::prepare {
namespace {

Expected<Piece, Reason> document_piece(std::string what, const std::string& issue, const std::string& next) {
  const verifier::Read<int64_t> from = verifier::rfc3339_seconds(issue);
  const verifier::Read<int64_t> until = verifier::rfc3339_seconds(next);
  if (!from || !until) return Reason{what + ": its issueDate or nextUpdate is not an RFC 3339 time"};
  return Piece{std::move(what), *from, *until};
}

Expected<Piece, Reason> crl_piece(std::string what, const std::string& hex) {
  const std::optional<std::vector<uint8_t>> der = hex_decode(hex);
  const verifier::Read<verifier::CrlFacts> crl = der ? verifier::read_crl(*der) : Reason{"not hex"};
  if (!crl) return Reason{what + ": " + crl.error().text};
  if (!crl->next_update) return Reason{what + ": the CRL has no nextUpdate"};
  return Piece{std::move(what), crl->this_update, *crl->next_update, true};
}

}  // namespace

std::string time_text(int64_t seconds) { return utc_time_text(static_cast<uint64_t>(std::max<int64_t>(seconds, 0))); }

Expected<std::vector<Piece>, Reason> collateral_pieces(const dcap::QuoteCollateralV3& collateral) {
  std::vector<Piece> out;
  const verifier::Read<dcap::TcbInfo> tcb = verifier::read_tcb_info(collateral.tcb_info);
  if (!tcb) return Reason{"the TCB info: " + tcb.error().text};
  const verifier::Read<dcap::QeIdentity> qe = verifier::read_qe_identity(collateral.qe_identity);
  if (!qe) return Reason{"the QE identity: " + qe.error().text};
  for (Expected<Piece, Reason> piece : {
           document_piece("the " + tcb->id + " TCB info", tcb->issue_date, tcb->next_update),
           document_piece("the " + qe->id + " QE identity", qe->issue_date, qe->next_update),
           crl_piece("the PCK CRL", collateral.pck_crl),
           crl_piece("the root CA CRL", collateral.root_ca_crl),
       }) {
    if (!piece) return std::move(piece).error();
    out.push_back(std::move(*piece));
  }
  const std::pair<const char*, const std::string*> chains[] = {
      {"tcb_info_issuer_chain", &collateral.tcb_info_issuer_chain},
      {"qe_identity_issuer_chain", &collateral.qe_identity_issuer_chain},
      {"pck_crl_issuer_chain", &collateral.pck_crl_issuer_chain},
  };
  for (const auto& [name, pem] : chains) {
    const verifier::Read<std::vector<verifier::CertFacts>> certs = verifier::read_pem_chain(*pem);
    if (!certs) return Reason{std::string(name) + ": " + certs.error().text};
    for (const verifier::CertFacts& cert : *certs) {
      out.push_back({"the certificate \"" + terminal_safe(cert.subject) + "\" of " + name, cert.not_before, cert.not_after});
    }
  }
  return out;
}

const Piece* first_to_expire(const std::vector<Piece>& pieces) {
  const Piece* first = nullptr;
  for (const Piece& piece : pieces) {
    if (first == nullptr || piece.until < first->until) first = &piece;
  }
  return first;
}

}  // namespace orv::prepare
