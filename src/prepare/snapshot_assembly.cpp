#include "prepare/snapshot_assembly.h"

#include <algorithm>

#include "core/hex.h"
#include "core/text.h"
#include "core/time_text.h"
#include "prepare/collateral_pieces.h"
#include "prepare/intel_service.h"
#include "prepare/saved_response.h"
#include "prepare/signed_body.h"

namespace orv::prepare {
namespace {

constexpr std::string_view kSnapshotSchema = "orvelant/intel-collateral-snapshot/v1";
constexpr std::string_view kRefetch =
    "fetch the four documents again, one after the other, into an empty folder (the lines "
    "collateral-plan prints), and save each exactly as received";

std::string file(const SavedDocument& document, std::string_view suffix) {
  return std::string(document.stem) + std::string(suffix);
}

std::string time_text(int64_t seconds) { return utc_time_text(static_cast<uint64_t>(std::max<int64_t>(seconds, 0))); }

// A response that was not the document: what the service's status says to do.
std::string status_todo(const SavedDocument& document, unsigned status) {
  if (status >= 300 && status < 400) return "the response is a redirect that was not followed: fetch with curl -L";
  if (status == 404 && document.stem == kTcbInfoDocument.stem) {
    return "Intel publishes no TDX TCB info for the FMSPC asked: check it against the one collateral-plan prints";
  }
  if (status == 400 || status == 404) return "check the URL against the one collateral-plan prints and fetch again";
  return "fetch it again later; Intel's service may be busy or down";
}

// The last response of a saved headers file, which must be the document itself.
Usable<SavedHeaders> final_response(const SavedDocument& document, const std::string& text) {
  const std::string name = file(document, ".headers");
  Expected<SavedHeaders, Reason> headers = read_saved_headers(text);
  if (!headers) {
    return Mistake{name + " " + headers.error().text,
                   "save the response headers as curl -D writes them, separate from the body (curl -o)"};
  }
  if (headers->status != 200) {
    std::string what = name + ": the response has status " + decimal(headers->status) + " (\"" +
                       terminal_safe(headers->status_line) + "\")";
    if (const auto message = headers->field("Error-Message")) what += ", Error-Message: " + terminal_safe(*message);
    return Mistake{what, status_todo(document, headers->status)};
  }
  return std::move(*headers);
}

// The issuer chain a header carries, URL-decoded into PEM.
Usable<std::string> issuer_chain(const SavedDocument& document, const SavedHeaders& headers) {
  const std::string name = file(document, ".headers");
  const std::string header(document.chain_header);
  if (headers.count(header) > 1) return Mistake{name + " has the " + header + " header twice", std::string(kRefetch)};
  const std::optional<std::string_view> value = headers.field(header);
  if (!value) {
    const bool version3 = document.stem == kTcbInfoDocument.stem && headers.field("SGX-TCB-Info-Issuer-Chain");
    return Mistake{name + " has no " + header + " header",
                   version3 ? "this is a response of Intel's API version 3; fetch from the version 4 URL "
                              "collateral-plan prints"
                            : "save the headers with the body (curl -D); the issuer chain comes only in this header"};
  }
  const std::string where = "the " + header + " header of " + name;
  Expected<std::string, Reason> pem = percent_decode(*value);
  if (!pem) return Mistake{where + " " + pem.error().text, "save the header as the service sent it"};
  const verifier::Read<std::vector<verifier::CertFacts>> chain = verifier::read_pem_chain(*pem);
  if (!chain) {
    return Mistake{where + " is not a URL-encoded PEM certificate chain: " + chain.error().text,
                   "save the header as the service sent it"};
  }
  return std::move(*pem);
}

struct SignedDocument {
  std::string text;
  std::string signature;
  std::string chain;
  std::optional<int64_t> date;  // the response's Date header
};

Usable<std::optional<int64_t>> response_date(const SavedDocument& document, const SavedHeaders& headers) {
  const std::optional<std::string_view> date = headers.field("Date");
  if (!date) return std::optional<int64_t>();
  const Expected<int64_t, Reason> seconds = read_http_date(*date);
  if (!seconds) {
    return Mistake{"the Date header of " + file(document, ".headers") + " " + seconds.error().text,
                   "save the header as the service sent it, or give the time you fetched with --fetched-at"};
  }
  return std::optional<int64_t>(*seconds);
}

// The signed member of a body with its signature, and the issuer chain and date of its response.
Usable<SignedDocument> signed_document(const SavedDocument& document, const SavedResponse& saved,
                                       std::string_view member) {
  if (!saved.headers) {
    return Mistake{file(document, ".headers") + " is missing", "save the response headers too (curl -D " +
                                                                   file(document, ".headers") +
                                                                   "): the issuer chain comes in a header"};
  }
  Usable<SavedHeaders> headers = final_response(document, *saved.headers);
  if (!headers) return std::move(headers).error();
  Usable<std::string> chain = issuer_chain(document, *headers);
  if (!chain) return std::move(chain).error();
  Usable<std::optional<int64_t>> date = response_date(document, *headers);
  if (!date) return std::move(date).error();
  Expected<SignedBody, Reason> body = cut_signed_body(saved.body, member);
  if (!body) {
    return Mistake{file(document, ".body") + " " + body.error().text,
                   "save the body exactly as received (curl -o); if it is an error message, fetch again"};
  }
  const std::optional<std::vector<uint8_t>> signature = hex_decode(body->signature);
  if (!signature || signature->size() != 64) {
    return Mistake{file(document, ".body") + ": the signature is not 64 bytes in hex", std::string(kRefetch)};
  }
  return SignedDocument{std::move(body->signed_text), std::move(body->signature), std::move(*chain), *date};
}

struct CrlDocument {
  std::vector<uint8_t> der;
  verifier::CrlFacts facts;
  std::string chain;            // empty for the root CA CRL
  std::optional<int64_t> date;  // the response's Date header, when headers were saved
};

Usable<CrlDocument> crl_document(const SavedDocument& document, const SavedResponse& saved) {
  CrlDocument out;
  const bool needs_chain = !document.chain_header.empty();
  if (!saved.headers && needs_chain) {
    return Mistake{file(document, ".headers") + " is missing", "save the response headers too (curl -D " +
                                                                   file(document, ".headers") +
                                                                   "): the issuer chain comes in a header"};
  }
  if (saved.headers) {
    Usable<SavedHeaders> headers = final_response(document, *saved.headers);
    if (!headers) return std::move(headers).error();
    if (needs_chain) {
      Usable<std::string> chain = issuer_chain(document, *headers);
      if (!chain) return std::move(chain).error();
      out.chain = std::move(*chain);
    }
    Usable<std::optional<int64_t>> date = response_date(document, *headers);
    if (!date) return std::move(date).error();
    out.date = *date;
  }
  Expected<std::vector<uint8_t>, Reason> der = crl_der(saved.body);
  const std::string body = file(document, ".body");
  if (!der) return Mistake{body + " " + der.error().text, std::string(kRefetch)};
  verifier::Read<verifier::CrlFacts> facts = verifier::read_crl(*der);
  if (!facts) return Mistake{body + " is " + facts.error().text, std::string(kRefetch)};
  if (!facts->next_update) return Mistake{body + ": the CRL has no nextUpdate", std::string(kRefetch)};
  out.der = std::move(*der);
  out.facts = std::move(*facts);
  return out;
}

// The CRLs must be the ones their files are named for: a PCK CA's and the root CA's, and,
// for a receipt, the CA that issued its PCK certificate.
std::optional<Mistake> check_crl_issuers(const CrlDocument& pck, const CrlDocument& root,
                                         const std::optional<Platform>& platform) {
  const std::string pck_body = file(kPckCrlDocument, ".body");
  const std::string root_body = file(kRootCaCrlDocument, ".body");
  const std::optional<verifier::CaType> ca = verifier::ca_from_common_name(pck.facts.issuer);
  if (!ca) {
    return Mistake{pck_body + " is a CRL of \"" + terminal_safe(pck.facts.issuer) + "\", not of a PCK CA",
                   "fetch the PCK CRL from " + pck_crl_url(platform ? platform->ca : verifier::CaType::Platform)};
  }
  if (platform && *ca != platform->ca) {
    return Mistake{pck_body + " is the CRL of the " + std::string(verifier::ca_common_name(*ca)) +
                       ", but the receipt's PCK certificate was issued by the " +
                       std::string(verifier::ca_common_name(platform->ca)),
                   "fetch the PCK CRL for ca=" + std::string(verifier::ca_query_value(platform->ca)) + ": " +
                       pck_crl_url(platform->ca)};
  }
  if (root.facts.issuer != verifier::kRootCommonName) {
    return Mistake{root_body + " is a CRL of \"" + terminal_safe(root.facts.issuer) + "\", not of the " +
                       std::string(verifier::kRootCommonName),
                   "fetch the root CA CRL from " + std::string(kRootCaCrlUrl)};
  }
  return std::nullopt;
}

verifier::JsonValue string_value(std::string text) { return verifier::JsonValue{std::move(text)}; }

std::string describe_source(const dcap::TcbInfo& tcb, const dcap::QeIdentity& qe, const CrlDocument& pck,
                            bool from_dates) {
  return "orvelant-prepare snapshot from saved Intel responses: tcb-info (" + tcb.id + " TCB info, FMSPC " + tcb.fmspc +
         ", tcbEvaluationDataNumber " + decimal(tcb.tcb_evaluation_data_number) + "), qe-identity (" + qe.id +
         ", tcbEvaluationDataNumber " + decimal(qe.tcb_evaluation_data_number) + "), pck-crl (" + pck.facts.issuer +
         "), root-ca-crl; fetched_at " + (from_dates ? "from their Date headers" : "as given");
}

bool same_collateral(const dcap::QuoteCollateralV3& a, const dcap::QuoteCollateralV3& b) {
  using C = dcap::QuoteCollateralV3;
  for (std::string C::*member :
       {&C::pck_crl_issuer_chain, &C::root_ca_crl, &C::pck_crl, &C::tcb_info_issuer_chain, &C::tcb_info,
        &C::tcb_info_signature, &C::qe_identity_issuer_chain, &C::qe_identity, &C::qe_identity_signature}) {
    if (a.*member != b.*member) return false;
  }
  return a.pck_certificate_chain == b.pck_certificate_chain;
}

}  // namespace

Usable<AssembledSnapshot> assemble_snapshot(const SnapshotInputs& inputs) {
  std::optional<Platform> platform;
  if (inputs.receipt) {
    Usable<Platform> read = tdx_platform(inputs.receipt->facts);
    if (!read) return std::move(read).error();
    platform = std::move(*read);
  }

  // Each response on its own: the right document, whole, as the service sent it.
  Usable<SignedDocument> tcb = signed_document(kTcbInfoDocument, inputs.tcb_info, "tcbInfo");
  if (!tcb) return std::move(tcb).error();
  Usable<SignedDocument> qe = signed_document(kQeIdentityDocument, inputs.qe_identity, "enclaveIdentity");
  if (!qe) return std::move(qe).error();
  Usable<CrlDocument> pck_crl = crl_document(kPckCrlDocument, inputs.pck_crl);
  if (!pck_crl) return std::move(pck_crl).error();
  Usable<CrlDocument> root_crl = crl_document(kRootCaCrlDocument, inputs.root_ca_crl);
  if (!root_crl) return std::move(root_crl).error();

  const std::string tcb_body = file(kTcbInfoDocument, ".body");
  const std::string qe_body = file(kQeIdentityDocument, ".body");
  const verifier::Read<dcap::TcbInfo> tcb_info = verifier::read_tcb_info(tcb->text);
  if (!tcb_info)
    return Mistake{tcb_body + ": tcbInfo is not Intel's TCB info: " + tcb_info.error().text, std::string(kRefetch)};
  const verifier::Read<dcap::QeIdentity> qe_identity = verifier::read_qe_identity(qe->text);
  if (!qe_identity) {
    return Mistake{qe_body + ": enclaveIdentity is not Intel's QE identity: " + qe_identity.error().text,
                   std::string(kRefetch)};
  }
  const std::string fmspc = platform ? platform->fmspc : tcb_info->fmspc;
  if (tcb_info->id != "TDX" || tcb_info->version < 3) {
    return Mistake{tcb_body + " holds TCB info with id \"" + terminal_safe(tcb_info->id) + "\" version " +
                       decimal(tcb_info->version) + "; a TDX quote needs the TDX TCB info (id \"TDX\", version 3)",
                   "fetch it from " + tcb_info_url(fmspc)};
  }
  if (qe_identity->id != "TD_QE" || (qe_identity->version != 2 && qe_identity->version != 3)) {
    return Mistake{qe_body + " holds the QE identity with id \"" + terminal_safe(qe_identity->id) + "\" version " +
                       decimal(qe_identity->version) + (qe_identity->id == "QE" ? ", the SGX one" : "") +
                       "; a TDX quote needs the TDX QE identity (id \"TD_QE\")",
                   "fetch it from " + std::string(kQeIdentityUrl)};
  }
  if (platform && !std::ranges::equal(tcb_info->fmspc, platform->fmspc,
                                      [](char a, char b) { return (a >= 'A' && a <= 'F' ? a - 'A' + 'a' : a) == b; })) {
    return Mistake{tcb_body + " is TCB info for FMSPC " + terminal_safe(tcb_info->fmspc) +
                       ", but the receipt's quote comes from a platform with FMSPC " + platform->fmspc,
                   "fetch the TCB info for that platform: " + tcb_info_url(platform->fmspc)};
  }
  if (auto wrong = check_crl_issuers(*pck_crl, *root_crl, platform)) return std::move(*wrong);

  // fetched_at: as given, else the latest Date of the responses, each of which must carry one.
  bool from_dates = !inputs.fetched_at;
  uint64_t at = inputs.fetched_at.value_or(0);
  if (from_dates) {
    int64_t latest = 0;
    const std::pair<const SavedDocument*, std::optional<int64_t>> dates[] = {
        {&kTcbInfoDocument, tcb->date}, {&kQeIdentityDocument, qe->date}, {&kPckCrlDocument, pck_crl->date}};
    for (const auto& [document, date] : dates) {
      if (!date) {
        return Mistake{file(*document, ".headers") + " has no Date header",
                       "give the time you fetched the documents with --fetched-at YYYY-MM-DDTHH:MM:SSZ"};
      }
      latest = std::max(latest, *date);
    }
    if (root_crl->date) latest = std::max(latest, *root_crl->date);
    at = static_cast<uint64_t>(latest);
  }

  dcap::QuoteCollateralV3 collateral;
  collateral.pck_crl_issuer_chain = pck_crl->chain;
  collateral.root_ca_crl = hex_encode(root_crl->der);
  collateral.pck_crl = hex_encode(pck_crl->der);
  collateral.tcb_info_issuer_chain = tcb->chain;
  collateral.tcb_info = tcb->text;
  collateral.tcb_info_signature = tcb->signature;
  collateral.qe_identity_issuer_chain = qe->chain;
  collateral.qe_identity = qe->text;
  collateral.qe_identity_signature = qe->signature;

  // Every piece valid at fetched_at; the first that is not is named with its window.
  const Expected<std::vector<Piece>, Reason> pieces = collateral_pieces(collateral);
  if (!pieces) return Mistake{"the collateral cannot be read: " + pieces.error().text, std::string(kRefetch)};
  for (const Piece& piece : *pieces) {
    if (piece.valid_at(static_cast<int64_t>(at))) continue;
    return Mistake{piece.what + " is valid from " + time_text(piece.from) + " to " + time_text(piece.until) +
                       ", and fetched_at " + time_text(static_cast<int64_t>(at)) + " is " +
                       (static_cast<int64_t>(at) < piece.from ? "before" : "after") + " that",
                   from_dates ? std::string(kRefetch)
                              : "give --fetched-at the time you fetched the documents (or leave it out to take it "
                                "from their Date headers)"};
  }

  // The verifier's own judgement, at fetched_at, against the compiled-in root.
  const std::string when = "at fetched_at " + time_text(static_cast<int64_t>(at));
  if (auto failed = verifier::verify_collateral(collateral, inputs.intel_root_der, at)) {
    return Mistake{"the collateral does not verify against Intel's root " + when + ": " + *failed,
                   std::string(kRefetch) +
                       " (Intel signs the exact bytes: a body re-formatted, re-encoded or "
                       "edited no longer verifies)"};
  }
  if (auto failed = verifier::check_crl_issuer(pck_crl->der, pck_crl->chain, inputs.intel_root_der, root_crl->der)) {
    return Mistake{"the PCK CRL does not verify against Intel's root: " + *failed, std::string(kRefetch)};
  }
  if (inputs.receipt) {
    if (auto failed = verifier::verify_quote(inputs.receipt->quote, collateral, inputs.intel_root_der, at)) {
      return Mistake{"the receipt's quote does not verify with this collateral " + when + ": " + *failed,
                     "orvelant-verify key-receipt would report the same, so this snapshot cannot serve that "
                     "receipt; leave out --receipt to write it for other quotes of the platform"};
    }
  }

  const verifier::JsonMembers members = {
      {"pck_crl_issuer_chain", string_value(collateral.pck_crl_issuer_chain)},
      {"root_ca_crl", string_value(collateral.root_ca_crl)},
      {"pck_crl", string_value(collateral.pck_crl)},
      {"tcb_info_issuer_chain", string_value(collateral.tcb_info_issuer_chain)},
      {"tcb_info", string_value(collateral.tcb_info)},
      {"tcb_info_signature", string_value(collateral.tcb_info_signature)},
      {"qe_identity_issuer_chain", string_value(collateral.qe_identity_issuer_chain)},
      {"qe_identity", string_value(collateral.qe_identity)},
      {"qe_identity_signature", string_value(collateral.qe_identity_signature)},
  };
  const verifier::JsonValue snapshot{verifier::JsonMembers{
      {"schema", string_value(std::string(kSnapshotSchema))},
      {"fetched_at", string_value(time_text(static_cast<int64_t>(at)))},
      {"source", string_value(describe_source(*tcb_info, *qe_identity, *pck_crl, from_dates))},
      {"collateral", verifier::JsonValue{members}},
  }};
  verifier::Read<std::string> text = verifier::write_json(snapshot);
  if (!text) return Mistake{"the snapshot cannot be written as JSON: " + text.error().text, std::string(kRefetch)};
  text->push_back('\n');
  // What orvelant-verify will read: within its limit, and read back to exactly this collateral.
  if (text->size() > kMaxDocumentBytes) {
    return Mistake{"the snapshot would be " + decimal(text->size()) + " bytes, more than orvelant-verify reads (" +
                       decimal(kMaxDocumentBytes) + ")",
                   std::string(kRefetch)};
  }
  const verifier::Read<tdx::CollateralSnapshot> reread = verifier::read_snapshot(*text);
  if (!reread || !same_collateral(reread->collateral, collateral)) {
    return Mistake{
        "the written snapshot does not read back as assembled" + (reread ? std::string() : ": " + reread.error().text),
        "report this as a bug in orvelant-prepare"};
  }

  AssembledSnapshot out;
  out.text = std::move(*text);
  out.fetched_at = at;
  out.fetched_at_from_dates = from_dates;
  out.fmspc = tcb_info->fmspc;
  out.tcb_evaluation_data_number =
      std::min(tcb_info->tcb_evaluation_data_number, qe_identity->tcb_evaluation_data_number);
  const Piece* first = first_to_expire(*pieces);
  out.valid_until = first->until;
  out.valid_until_what = first->what;
  return out;
}

}  // namespace orv::prepare
