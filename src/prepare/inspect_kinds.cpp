#include "prepare/inspect_kinds.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "core/hex.h"
#include "core/text.h"
#include "prepare/collateral_pieces.h"

namespace orv::prepare {
namespace {

using verifier::JsonValue;
using Items = verifier::JsonMembers;

// Longer values (tokens, proofs, payloads of kilobytes) are summarised by their length.
constexpr size_t kLongestShown = 160;

JsonValue text(std::string value) { return JsonValue{std::move(value)}; }
JsonValue number(int64_t value) { return JsonValue{value}; }
JsonValue time_value(int64_t seconds) { return text(time_text(seconds)); }
JsonValue flag(const std::optional<bool>& value) { return value ? JsonValue{*value} : JsonValue{nullptr}; }

std::string abbreviated(const std::string& value) {
  if (value.size() > kLongestShown) return "(" + decimal(value.size()) + " characters)";
  return terminal_safe(value);
}

JsonValue shown_string(const std::string& value) { return text(abbreviated(value)); }

Shown::Section unreadable(std::string name, const std::string& reason) {
  return {std::move(name), {{"unreadable", text(terminal_safe(reason))}}};
}

Shown::Section tcb_info_section(const std::string& signed_text) {
  const verifier::Read<dcap::TcbInfo> tcb = verifier::read_tcb_info(signed_text);
  if (!tcb) return unreadable("tcb_info", tcb.error().text);
  return {"tcb_info",
          {{"id", shown_string(tcb->id)},
           {"version", number(tcb->version)},
           {"fmspc", shown_string(tcb->fmspc)},
           {"tcb_evaluation_data_number", number(tcb->tcb_evaluation_data_number)},
           {"issue_date", shown_string(tcb->issue_date)},
           {"next_update", shown_string(tcb->next_update)},
           {"tcb_levels", number(static_cast<int64_t>(tcb->tcb_levels.size()))}}};
}

Shown::Section qe_identity_section(const std::string& signed_text) {
  const verifier::Read<dcap::QeIdentity> qe = verifier::read_qe_identity(signed_text);
  if (!qe) return unreadable("qe_identity", qe.error().text);
  return {"qe_identity",
          {{"id", shown_string(qe->id)},
           {"version", number(qe->version)},
           {"tcb_evaluation_data_number", number(qe->tcb_evaluation_data_number)},
           {"issue_date", shown_string(qe->issue_date)},
           {"next_update", shown_string(qe->next_update)}}};
}

Shown::Section crl_section(std::string name, const std::string& hex) {
  const std::optional<std::vector<uint8_t>> der = hex_decode(hex);
  const verifier::Read<verifier::CrlFacts> crl = der ? verifier::read_crl(*der) : Reason{"not hex"};
  if (!crl) return unreadable(std::move(name), crl.error().text);
  return {std::move(name),
          {{"issuer", shown_string(crl->issuer)},
           {"this_update", time_value(crl->this_update)},
           {"next_update", crl->next_update ? time_value(*crl->next_update) : JsonValue{nullptr}},
           {"revoked_certificates", number(static_cast<int64_t>(crl->revoked))},
           {"crl_number", crl->number ? number(*crl->number) : JsonValue{nullptr}}}};
}

JsonValue chain_value(const std::string& pem) {
  const verifier::Read<std::vector<verifier::CertFacts>> certs = verifier::read_pem_chain(pem);
  if (!certs) return text("unreadable: " + terminal_safe(certs.error().text));
  verifier::JsonItems out;
  for (const verifier::CertFacts& cert : *certs) {
    out.push_back(
        text(terminal_safe(cert.subject) + ", valid " + time_text(cert.not_before) + " to " + time_text(cert.not_after)));
  }
  return JsonValue{std::move(out)};
}

Shown show_snapshot(const tdx::CollateralSnapshot& snapshot, uint64_t now) {
  const dcap::QuoteCollateralV3& c = snapshot.collateral;
  Shown shown{"collateral snapshot", {}};
  shown.sections.push_back({"snapshot",
                            {{"schema", shown_string(snapshot.schema)},
                             {"fetched_at", shown_string(snapshot.fetched_at)},
                             {"source", text(terminal_safe(snapshot.source))}}});
  shown.sections.push_back(tcb_info_section(c.tcb_info));
  shown.sections.push_back(qe_identity_section(c.qe_identity));
  shown.sections.push_back(crl_section("pck_crl", c.pck_crl));
  shown.sections.push_back(crl_section("root_ca_crl", c.root_ca_crl));
  shown.sections.push_back({"issuer_chains",
                            {{"tcb_info", chain_value(c.tcb_info_issuer_chain)},
                             {"qe_identity", chain_value(c.qe_identity_issuer_chain)},
                             {"pck_crl", chain_value(c.pck_crl_issuer_chain)}}});
  const Expected<std::vector<Piece>, Reason> pieces = collateral_pieces(c);
  if (!pieces) {
    shown.sections.push_back(unreadable("expiry", pieces.error().text));
    return shown;
  }
  const Piece& first = *first_to_expire(*pieces);
  const int64_t left = first.until - static_cast<int64_t>(now);
  // Whole days, rounded towards the past: a snapshot with hours left has 0 days left.
  const int64_t days = left >= 0 ? left / 86400 : -((-left + 86399) / 86400);
  shown.sections.push_back({"expiry",
                            {{"earliest_expiry", time_value(first.until)},
                             {"first_to_expire", text(first.what)},
                             {"local_clock", time_value(static_cast<int64_t>(now))},
                             {"days_left", number(days)},
                             {"expired", JsonValue{left < 0}}}});
  return shown;
}

Shown::Section pck_section(const verifier::QuoteFacts& facts) {
  if (!facts.pck) return unreadable("pck_certificate", facts.pck.error().text);
  const verifier::PckFacts& pck = *facts.pck;
  return {"pck_certificate",
          {{"subject", shown_string(pck.certificate.subject)},
           {"issuer", shown_string(pck.certificate.issuer)},
           {"ca_type", pck.ca ? text(std::string(verifier::ca_query_value(*pck.ca))) : JsonValue{nullptr}},
           {"fmspc", text(pck.fmspc)},
           {"not_before", time_value(pck.certificate.not_before)},
           {"not_after", time_value(pck.certificate.not_after)},
           {"cpusvn", text(hex_encode(pck.extensions.cpusvn))},
           {"pcesvn", number(pck.extensions.pcesvn)},
           {"sgx_type", number(pck.extensions.sgx_type)},
           {"dynamic_platform", flag(pck.extensions.dynamic_platform)},
           {"cached_keys", flag(pck.extensions.cached_keys)},
           {"smt_enabled", flag(pck.extensions.smt_enabled)}}};
}

Shown show_receipt(const tdx::LiveKeyReceipt& receipt) {
  Shown shown{"key receipt", {}};
  Items fields = {{"schema", shown_string(receipt.schema)},
                  {"alg", shown_string(receipt.alg)},
                  {"issued_at", shown_string(receipt.issued_at)},
                  {"public_key_hex", shown_string(receipt.public_key_hex)}};
  for (const auto& [name, value] : {std::pair{"prev_receipt_sha256", &receipt.prev_receipt_sha256},
                                    std::pair{"sigsum_chain_key_hex", &receipt.sigsum_chain_key_hex},
                                    std::pair{"rekor_key_spki_b64", &receipt.rekor_key_spki_b64}}) {
    if (*value) fields.push_back({name, shown_string(**value)});
  }
  shown.sections.push_back({"receipt", std::move(fields)});

  const verifier::Read<std::vector<uint8_t>> quote = verifier::receipt_quote(receipt);
  const verifier::Read<verifier::QuoteFacts> facts = quote ? verifier::read_quote(*quote) : quote.error();
  if (!facts) {
    shown.sections.push_back(unreadable("quote", facts.error().text));
  } else {
    char tee[16];
    std::snprintf(tee, sizeof tee, "0x%02x", static_cast<unsigned>(facts->tee_type));
    shown.sections.push_back({"quote_header",
                              {{"version", number(facts->version)},
                               {"attestation_key_type", number(facts->attestation_key_type)},
                               {"tee_type", text(tee)},
                               {"qe_svn", number(facts->qe_svn)},
                               {"pce_svn", number(facts->pce_svn)},
                               {"qe_vendor_id", text(facts->qe_vendor_id)},
                               {"report", text(facts->report_kind)},
                               {"certification_data_type", number(facts->certification_type)}}});
    Items report;
    for (const auto& [name, value] : facts->report) report.push_back({name, text(value)});
    shown.sections.push_back({facts->td ? "td_report" : "enclave_report", std::move(report)});
    shown.sections.push_back(pck_section(*facts));
  }

  std::map<uint64_t, int64_t> per_register;
  verifier::JsonItems named;
  for (const tdx::EventLogEntry& entry : receipt.event_log) {
    ++per_register[entry.imr];
    if (entry.imr == 3) {
      named.push_back(text(abbreviated(entry.event) +
                           (entry.event_payload.empty() ? " (no payload)" : ": " + abbreviated(entry.event_payload))));
    }
  }
  Items log;
  for (const auto& [imr, count] : per_register) log.push_back({"imr" + decimal(imr) + "_events", number(count)});
  log.push_back({"rtmr3_events", JsonValue{std::move(named)}});
  shown.sections.push_back({"event_log", std::move(log)});
  return shown;
}

// Documents inspect knows only as JSON: every member, as written.
Usable<Shown> show_members(std::string kind, const std::string& document) {
  const verifier::Read<std::vector<std::pair<std::string, std::string>>> leaves = verifier::json_leaves(document);
  if (!leaves) return Mistake{"the " + kind + " is " + leaves.error().text, "give the file as it was issued"};
  Items items;
  for (const auto& [path, value] : *leaves) items.push_back({terminal_safe(path), shown_string(value)});
  return Shown{std::move(kind), {{"members", std::move(items)}}};
}

}  // namespace

Usable<Shown> show_input(const std::string& document, uint64_t now) {
  const std::optional<std::string> schema = verifier::json_schema(document);
  const std::string todo = "give a snapshot, key receipt, expected-TD, stamp or log-evidence file";
  if (!schema) return Mistake{"the file is not a JSON document with a \"schema\" member", todo};
  if (*schema == tdx::kSnapshotSchema) {
    const verifier::Read<tdx::CollateralSnapshot> snapshot = verifier::read_snapshot(document);
    if (!snapshot) return Mistake{snapshot.error().text, "give the snapshot as orvelant-prepare wrote it"};
    return show_snapshot(*snapshot, now);
  }
  if (schema->starts_with("orvelant/live-key-receipt/")) {
    const verifier::Read<tdx::LiveKeyReceipt> receipt = verifier::read_key_receipt(document);
    if (!receipt) return Mistake{receipt.error().text, "give the key receipt as the service published it"};
    return show_receipt(*receipt);
  }
  if (*schema == tdx::kExpectedTdSchema) return show_members("expected-TD file", document);
  if (*schema == "orvelant/timestamp/v1") return show_members("stamp file", document);
  if (*schema == "orvelant/live-key-log-evidence/v2") return show_members("log-evidence file", document);
  return Mistake{"the file's schema \"" + terminal_safe(*schema) + "\" is not one inspect knows", todo};
}

}  // namespace orv::prepare
