// The dated pieces of Intel's collateral, each with the window in which it is valid: what a
// snapshot is checked against at fetched_at and what inspect shows as its expiry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dcap/verify.h"
#include "prepare/outcome.h"

namespace orv::prepare {

struct Piece {
  std::string what;  // "the TDX TCB info", "the certificate \"Intel SGX TCB Signing\" of tcb_info_issuer_chain"
  int64_t from = 0;
  int64_t until = 0;
  bool until_excluded = false;  // a CRL is expired once its nextUpdate has come

  bool valid_at(int64_t at) const { return at >= from && (until_excluded ? at < until : at <= until); }
};

// YYYY-MM-DDTHH:MM:SSZ, as reports show times; Intel's material has none before 1970.
std::string time_text(int64_t seconds);

// Both signed documents, both CRLs and every certificate of the three issuer chains, in that
// order; the reason when one of them cannot be read.
Expected<std::vector<Piece>, Reason> collateral_pieces(const dcap::QuoteCollateralV3& collateral);

// The piece that expires first; null for an empty list.
const Piece* first_to_expire(const std::vector<Piece>& pieces);

}  // namespace orv::prepare
