// A key receipt read for what its quote says, not judged: the receipt, its quote's bytes and
// the decoded facts, and the platform that Intel's collateral must be fetched for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "prepare/outcome.h"
#include "prepare/verifier.h"

namespace orv::prepare {

// The verifier's own limit for a key receipt.
inline constexpr size_t kMaxDocumentBytes = 1048576;

struct ReceiptQuote {
  tdx::LiveKeyReceipt receipt;
  std::vector<uint8_t> quote;
  verifier::QuoteFacts facts;
};

Usable<ReceiptQuote> read_receipt_quote(const std::string& path);

// The platform a TDX quote comes from, as its PCK certificate names it.
struct Platform {
  std::string fmspc;  // lowercase hex
  verifier::CaType ca = verifier::CaType::Platform;
};

// Refuses quotes that TDX collateral cannot serve: an SGX quote, a quote without its PCK
// certificate, a PCK certificate from neither PCK CA.
Usable<Platform> tdx_platform(const verifier::QuoteFacts& facts);

}  // namespace orv::prepare
