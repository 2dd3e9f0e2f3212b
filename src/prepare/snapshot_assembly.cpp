#include "prepare/snapshot_assembly.h"

#include <algorithm>

#include "core/hex.h"
#include "core/text.h"
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
    std::string what =
        name + ": the response has status " + decimal(headers->status) + " (\"" + terminal_safe(headers->status_line) + "\")";
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

struct ResponseFacts {
  std::string chain;            // PEM; empty for a document that has none
  std::optional<int64_t> date;  // the Date header, when there is one
};

// What a saved headers file says of its document: that the last response is the document, its
// issuer chain and its date. Only the root CA CRL, which has no chain, may come without one.
Usable<ResponseFacts> response_facts(const SavedDocument& document, const SavedResponse& saved) {
  ResponseFacts out;
  const bool has_chain = !document.chain_header.empty();
  if (!saved.headers) {
    if (!has_chain) return out;
    return Mistake{
        file(document, ".headers") + " is missing",
        "save the response headers too (curl -D " + file(document, ".headers") + "): the issuer chain comes in a header"};
  }
  Usable<SavedHeaders> headers = final_response(document, *saved.headers);
  if (!headers) return std::move(headers).error();
  if (has_chain) {
    Usable<std::string> chain = issuer_chain(document, *headers);
    if (!chain) return std::move(chain).error();
    out.chain = std::move(*chain);
  }
  Usable<std::optional<int64_t>> date = response_date(document, *headers);
  if (!date) return std::move(date).error();
  out.date = *date;
  return out;
}

struct SignedDocument {
  std::string text;
  std::string signature;
  ResponseFacts response;
};

// The signed member of a body with its signature, and what its response's headers say.
Usable<SignedDocument> signed_document(const SavedDocument& document, const SavedResponse& saved, std::string_view member) {
  Usable<ResponseFacts> response = response_facts(document, saved);
  if (!response) return std::move(response).error();
  Expected<SignedBody, Reason> body = cut_signed_body(saved.body, member);
  if (!body) {
    return Mistake{file(document, ".body") + " " + body.error().text,
                   "save the body exactly as received (curl -o); if it is an error message, fetch again"};
  }
  const std::optional<std::vector<uint8_t>> signature = hex_decode(body->signature);
  if (!signature || signature->size() != 64) {
    return Mistake{file(document, ".body") + ": the signature is not 64 bytes in hex", std::string(kRefetch)};
  }
  return SignedDocument{std::move(body->signed_text), std::move(body->signature), std::move(*response)};
}

struct CrlDocument {
  std::vector<uint8_t> der;
  verifier::CrlFacts facts;
  ResponseFacts response;
};

Usable<CrlDocument> crl_document(const SavedDocument& document, const SavedResponse& saved) {
  Usable<ResponseFacts> response = response_facts(document, saved);
  if (!response) return std::move(response).error();
  Expected<std::vector<uint8_t>, Reason> der = crl_der(saved.body);
  const std::string body = file(document, ".body");
  if (!der) return Mistake{body + " " + der.error().text, std::string(kRefetch)};
  verifier::Read<verifier::CrlFacts> facts = verifier::read_crl(*der);
  if (!facts) return Mistake{body + " is " + facts.error().text, std::string(kRefetch)};
  if (!facts->next_update) return Mistake{body + ": the CRL has no nextUpdate", std::string(kRefetch)};
  return CrlDocument{std::move(*der), std::move(*facts), std::move(*response)};
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
    return Mistake{
        pck_body + " is the CRL of the " + std::string(verifier::ca_common_name(*ca)) +
            ", but the receipt's PCK certificate was issued by the " + std::string(verifier::ca_common_name(platform->ca)),
        "fetch the PCK CRL for ca=" + std::string(verifier::ca_query_value(platform->ca)) + ": " + pck_crl_url(platform->ca)};
  }
  if (root.facts.issuer != verifier::kRootCommonName) {
    return Mistake{root_body + " is a CRL of \"" + terminal_safe(root.facts.issuer) + "\", not of the " +
                       std::string(verifier::kRootCommonName),
                   "fetch the root CA CRL from " + std::string(kRootCaCrlUrl)};
  }
  return std::nullopt;
}

verifier::JsonValue string_value(std::string text) { return verifier::JsonValue{std::move(text)}; }

std::string describe_source(const dcap::TcbInfo& tcb, const dcap::QeIdentity& qe, const CrlDocument& pck, bool from_dates) {
  return "orvelant-prepare snapshot from saved Intel responses: tcb-info (" + tcb.id + " TCB info, FMSPC " + tcb.fmspc +
         ", tcbEvaluationDataNumber " + decimal(tcb.tcb_evaluation_data_number) + "), qe-identity (" + qe.id +
         ", tcbEvaluationDataNumber " + decimal(qe.tcb_evaluation_data_number) + "), pck-crl (" + pck.facts.issuer +
         "), root-ca-crl; fetched_at " + (from_dates ? "from their Date headers" : "as given");
}

bool same_collateral(const dcap::QuoteCollateralV3& a, const dcap::QuoteCollateralV3& b) {
  using C = dcap::QuoteCollateralV3;
  for (std::string C::*member :
       {&C::pck_crl_issuer_chain, &C::root_ca_crl, &C::pck_crl, &C::tcb_info_issuer_chain, &C::tcb_info, &C::tcb_info_signature,
        &C::qe_identity_issuer_chain, &C::qe_identity, &C::qe_identity_signature}) {
    if (a.*member != b.*member) return false;
  }
  return a.pck_certificate_chain == b.pck_certificate_chain;
}

// The four responses, each the right document, whole, as the service sent it.
struct Responses {
  SignedDocument tcb;
  SignedDocument qe;
  CrlDocument pck_crl;
  CrlDocument root_crl;
  dcap::TcbInfo tcb_info;
  dcap::QeIdentity qe_identity;
};

Usable<Responses> read_responses(const SnapshotInputs& inputs) {
  Usable<SignedDocument> tcb = signed_document(kTcbInfoDocument, inputs.tcb_info, "tcbInfo");
  if (!tcb) return std::move(tcb).error();
  Usable<SignedDocument> qe = signed_document(kQeIdentityDocument, inputs.qe_identity, "enclaveIdentity");
  if (!qe) return std::move(qe).error();
  Usable<CrlDocument> pck_crl = crl_document(kPckCrlDocument, inputs.pck_crl);
  if (!pck_crl) return std::move(pck_crl).error();
  Usable<CrlDocument> root_crl = crl_document(kRootCaCrlDocument, inputs.root_ca_crl);
  if (!root_crl) return std::move(root_crl).error();
  verifier::Read<dcap::TcbInfo> tcb_info = verifier::read_tcb_info(tcb->text);
  if (!tcb_info) {
    return Mistake{file(kTcbInfoDocument, ".body") + ": tcbInfo is not Intel's TCB info: " + tcb_info.error().text,
                   std::string(kRefetch)};
  }
  verifier::Read<dcap::QeIdentity> qe_identity = verifier::read_qe_identity(qe->text);
  if (!qe_identity) {
    return Mistake{
        file(kQeIdentityDocument, ".body") + ": enclaveIdentity is not Intel's QE identity: " + qe_identity.error().text,
        std::string(kRefetch)};
  }
  return Responses{std::move(*tcb),      std::move(*qe),       std::move(*pck_crl),
                   std::move(*root_crl), std::move(*tcb_info), std::move(*qe_identity)};
}

// The documents a TDX quote is judged with and, for a receipt, those of its platform.
std::optional<Mistake> check_kinds(const Responses& r, const std::optional<Platform>& platform) {
  const std::string tcb_body = file(kTcbInfoDocument, ".body");
  const std::string fmspc = terminal_safe(platform ? platform->fmspc : r.tcb_info.fmspc);
  if (r.tcb_info.id != "TDX" || r.tcb_info.version < 3) {
    return Mistake{tcb_body + " holds TCB info with id \"" + terminal_safe(r.tcb_info.id) + "\" version " +
                       decimal(r.tcb_info.version) + "; a TDX quote needs the TDX TCB info (id \"TDX\", version 3)",
                   "fetch it from " + tcb_info_url(fmspc)};
  }
  const dcap::QeIdentity& qe = r.qe_identity;
  if (qe.id != "TD_QE" || (qe.version != 2 && qe.version != 3)) {
    return Mistake{file(kQeIdentityDocument, ".body") + " holds the QE identity with id \"" + terminal_safe(qe.id) +
                       "\" version " + decimal(qe.version) + (qe.id == "QE" ? ", the SGX one" : "") +
                       "; a TDX quote needs the TDX QE identity (id \"TD_QE\")",
                   "fetch it from " + std::string(kQeIdentityUrl)};
  }
  const auto same_digit = [](char a, char b) { return (a >= 'A' && a <= 'F' ? a - 'A' + 'a' : a) == b; };
  if (platform && !std::ranges::equal(r.tcb_info.fmspc, platform->fmspc, same_digit)) {
    return Mistake{tcb_body + " is TCB info for FMSPC " + terminal_safe(r.tcb_info.fmspc) +
                       ", but the receipt's quote comes from a platform with FMSPC " + platform->fmspc,
                   "fetch the TCB info for that platform: " + tcb_info_url(platform->fmspc)};
  }
  return check_crl_issuers(r.pck_crl, r.root_crl, platform);
}

// As given, else the latest Date of the responses, each of which must carry one.
Usable<uint64_t> fetched_at(const Responses& r) {
  int64_t latest = r.root_crl.response.date.value_or(0);
  const std::pair<const SavedDocument*, std::optional<int64_t>> dates[] = {
      {&kTcbInfoDocument, r.tcb.response.date},
      {&kQeIdentityDocument, r.qe.response.date},
      {&kPckCrlDocument, r.pck_crl.response.date},
  };
  for (const auto& [document, date] : dates) {
    if (!date) {
      return Mistake{file(*document, ".headers") + " has no Date header",
                     "give the time you fetched the documents with --fetched-at YYYY-MM-DDTHH:MM:SSZ"};
    }
    latest = std::max(latest, *date);
  }
  return static_cast<uint64_t>(latest);
}

// Every piece valid at fetched_at; the first that is not is named with its window.
std::optional<Mistake> check_windows(const std::vector<Piece>& pieces, int64_t at, bool from_dates) {
  for (const Piece& piece : pieces) {
    if (piece.valid_at(at)) continue;
    return Mistake{piece.what + " is valid from " + time_text(piece.from) + " to " + time_text(piece.until) +
                       ", and fetched_at " + time_text(at) + " is " + (at < piece.from ? "before" : "after") + " that",
                   from_dates ? std::string(kRefetch)
                              : "give --fetched-at the time you fetched the documents (or leave it out to take it "
                                "from their Date headers)"};
  }
  return std::nullopt;
}

// The verifier's own judgement, at fetched_at, against the compiled-in root.
std::optional<Mistake> verify(const dcap::QuoteCollateralV3& collateral, const Responses& r, const SnapshotInputs& inputs,
                              uint64_t at) {
  const std::string when = "at fetched_at " + time_text(static_cast<int64_t>(at));
  if (auto failed = verifier::verify_collateral(collateral, inputs.intel_root_der, at)) {
    return Mistake{
        "the collateral does not verify against Intel's root " + when + ": " + *failed,
        std::string(kRefetch) + " (Intel signs the exact bytes: a body re-formatted, re-encoded or edited no longer verifies)"};
  }
  if (auto failed = verifier::check_crl_issuer(r.pck_crl.der, r.pck_crl.response.chain, inputs.intel_root_der, r.root_crl.der)) {
    return Mistake{"the PCK CRL does not verify against Intel's root: " + *failed, std::string(kRefetch)};
  }
  if (!inputs.receipt) return std::nullopt;
  if (auto failed = verifier::verify_quote(inputs.receipt->quote, collateral, inputs.intel_root_der, at)) {
    return Mistake{"the receipt's quote does not verify with this collateral " + when + ": " + *failed,
                   "orvelant-verify key-receipt would report the same, so this snapshot cannot serve that "
                   "receipt; leave out --receipt to write it for other quotes of the platform"};
  }
  return std::nullopt;
}

// The document orvelant-verify reads: within its limit, and read back to exactly this collateral.
Usable<std::string> snapshot_text(const dcap::QuoteCollateralV3& collateral, const Responses& r, uint64_t at, bool from_dates) {
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
      {"source", string_value(describe_source(r.tcb_info, r.qe_identity, r.pck_crl, from_dates))},
      {"collateral", verifier::JsonValue{members}},
  }};
  verifier::Read<std::string> text = verifier::write_json(snapshot);
  if (!text) return Mistake{"the snapshot cannot be written as JSON: " + text.error().text, std::string(kRefetch)};
  text->push_back('\n');
  if (text->size() > kMaxDocumentBytes) {
    return Mistake{"the snapshot would be " + decimal(text->size()) + " bytes, more than orvelant-verify reads (" +
                       decimal(kMaxDocumentBytes) + ")",
                   std::string(kRefetch)};
  }
  const verifier::Read<tdx::CollateralSnapshot> reread = verifier::read_snapshot(*text);
  if (!reread || !same_collateral(reread->collateral, collateral)) {
    return Mistake{"the written snapshot does not read back as assembled" + (reread ? std::string() : ": " + reread.error().text),
                   "report this as a bug in orvelant-prepare"};
  }
  return std::move(*text);
}

}  // namespace

Usable<AssembledSnapshot> assemble_snapshot(const SnapshotInputs& inputs) {
  std::optional<Platform> platform;
  if (inputs.receipt) {
    Usable<Platform> read = tdx_platform(inputs.receipt->facts);
    if (!read) return std::move(read).error();
    platform = std::move(*read);
  }
  Usable<Responses> responses = read_responses(inputs);
  if (!responses) return std::move(responses).error();
  const Responses& r = *responses;
  if (auto wrong = check_kinds(r, platform)) return std::move(*wrong);
  const bool from_dates = !inputs.fetched_at;
  const Usable<uint64_t> at = from_dates ? fetched_at(r) : Usable<uint64_t>(*inputs.fetched_at);
  if (!at) return at.error();

  dcap::QuoteCollateralV3 collateral;
  collateral.pck_crl_issuer_chain = r.pck_crl.response.chain;
  collateral.root_ca_crl = hex_encode(r.root_crl.der);
  collateral.pck_crl = hex_encode(r.pck_crl.der);
  collateral.tcb_info_issuer_chain = r.tcb.response.chain;
  collateral.tcb_info = r.tcb.text;
  collateral.tcb_info_signature = r.tcb.signature;
  collateral.qe_identity_issuer_chain = r.qe.response.chain;
  collateral.qe_identity = r.qe.text;
  collateral.qe_identity_signature = r.qe.signature;

  const Expected<std::vector<Piece>, Reason> pieces = collateral_pieces(collateral);
  if (!pieces) return Mistake{"the collateral cannot be read: " + pieces.error().text, std::string(kRefetch)};
  if (auto outside = check_windows(*pieces, static_cast<int64_t>(*at), from_dates)) return std::move(*outside);
  if (auto failed = verify(collateral, r, inputs, *at)) return std::move(*failed);
  Usable<std::string> text = snapshot_text(collateral, r, *at, from_dates);
  if (!text) return std::move(text).error();

  const Piece* first = first_to_expire(*pieces);
  return AssembledSnapshot{std::move(*text),
                           *at,
                           from_dates,
                           r.tcb_info.fmspc,
                           std::min(r.tcb_info.tcb_evaluation_data_number, r.qe_identity.tcb_evaluation_data_number),
                           first->until,
                           first->what};
}

}  // namespace orv::prepare
