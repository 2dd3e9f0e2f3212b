#include "prepare/key_receipt.h"

#include "core/text.h"
#include "prepare/files.h"

namespace orv::prepare {

Usable<ReceiptQuote> read_receipt_quote(const std::string& path) {
  Usable<std::string> text = read_input(path, "key receipt", kMaxDocumentBytes);
  if (!text) return std::move(text).error();
  const std::string todo = "give the key receipt the service published (a JSON document with quote_hex)";
  verifier::Read<tdx::LiveKeyReceipt> receipt = verifier::read_key_receipt(*text);
  if (!receipt) return Mistake{receipt.error().text, todo};
  verifier::Read<std::vector<uint8_t>> quote = verifier::receipt_quote(*receipt);
  if (!quote) return Mistake{"the key receipt's " + quote.error().text, todo};
  verifier::Read<verifier::QuoteFacts> facts = verifier::read_quote(*quote);
  if (!facts) return Mistake{"the key receipt's quote does not decode: " + facts.error().text, todo};
  return ReceiptQuote{std::move(*receipt), std::move(*quote), std::move(*facts)};
}

Usable<Platform> tdx_platform(const verifier::QuoteFacts& facts) {
  if (!facts.td || facts.tee_type != verifier::kTeeTypeTdx) {
    return Mistake{"the quote is not a TDX quote (TEE type " + decimal(facts.tee_type) + ", " + facts.report_kind + ")",
                   "key-receipt judges TDX quotes only; give a receipt from a TDX trust domain"};
  }
  if (!facts.pck) {
    return Mistake{facts.pck.error().text,
                   "the FMSPC and CA type come from the PCK certificate that TDX quotes carry (certification "
                   "data type 5); give a receipt whose quote carries it"};
  }
  if (!facts.pck->ca) {
    return Mistake{"the quote's PCK certificate was issued by \"" + terminal_safe(facts.pck->certificate.issuer) +
                       "\", neither of Intel's PCK CAs",
                   "give a receipt whose quote comes from a genuine Intel platform"};
  }
  return Platform{facts.pck->fmspc, *facts.pck->ca};
}

}  // namespace orv::prepare
