#include "tdx/log_evidence.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "core/hex.h"
#include "core/text.h"
#include "crypto/digest.h"
#include "crypto/mldsa65.h"
#include "dcap/quote.h"
#include "json/document.h"
#include "json/record.h"
#include "tdx/documents.h"
#include "tlog/sigsum.h"

namespace orv::tdx {
namespace {

using json::Field;
using json::Kind;

constexpr std::array<Field, 4> kSigsumDocFields = {{
    {"log_key_hex", Kind::String},
    {"leaf_index", Kind::U64},
    {"proof", Kind::String},
    {"gate_signature", Kind::String, true},
}};
constexpr json::Record kSigsumDoc{"SigsumDoc", kSigsumDocFields};

constexpr std::array<Field, 4> kEvidenceFields = {{
    {"schema", Kind::String},
    {"key_id", Kind::String},
    {"sigsum", Kind::RecordArray, false, &kSigsumDoc},
    {"rekor", Kind::StringArray},
}};
constexpr json::Record kLogEvidence{"LogEvidence", kEvidenceFields};

std::string_view text_of(const json::Value& value) { return {value.GetString(), value.GetStringLength()}; }

std::string tlog_message(std::string_view label, const tlog::TlogError& error) {
  return std::string(label) + ": [" + std::string(error.code.text()) + "] " + error.message;
}

struct SigsumDoc {
  std::string_view log_key_hex;
  uint64_t leaf_index = 0;
  std::string_view proof;
  std::optional<std::string_view> gate_signature;
};

// What steps 1 to 10 establish; the views point into the caller's evidence document.
struct Subject {
  tlog::Hash receipt_hash{};
  std::vector<uint8_t> live_key;
  LogKeys log_keys;
  std::string key_id;
  std::vector<SigsumDoc> sigsum;
  std::vector<std::string_view> rekor;
};

bool key_is_bound(const LiveKeyReceipt& receipt, const std::vector<uint8_t>& live_key) {
  const Expected<std::array<uint8_t, 64>, Problem> binding = key_binding(receipt, live_key);
  const std::optional<std::vector<uint8_t>> quote = hex_decode(receipt.quote_hex);
  return binding && quote && dcap::claimed_report_data(*quote) == *binding;
}

// Each failure ends the check with its one problem.
Expected<Subject, Problem> read_subject(std::string_view receipt_text, std::string_view evidence_text,
                                        json::Document& evidence_json) {
  if (receipt_text.size() > kLogEvidenceReceiptLimit || evidence_text.size() > kLogEvidenceLimit) {
    return Problem{"PARSE", "input too large"};
  }
  const std::array<std::pair<std::string_view, std::string_view>, 2> inputs = {
      {{"receipt", receipt_text}, {"evidence", evidence_text}}};
  for (const auto& [label, text] : inputs) {
    if (auto violation = json::strict_check(text); !violation.ok()) {
      return Problem{"PARSE", std::string(label) + " is not strict JSON: " + violation.error()};
    }
  }

  // The strict check has read the same grammar; a parse that still fails must not pass silently.
  Expected<json::Document, std::string> receipt_json = json::parse(receipt_text);
  if (!receipt_json) return Problem{"PARSE", "receipt is not strict JSON: " + receipt_json.error()};
  Expected<LiveKeyReceipt, std::string> parsed = parse_key_receipt(receipt_json->root());
  if (!parsed) return Problem{"PARSE", "not a key receipt: " + parsed.error()};
  const LiveKeyReceipt& receipt = *parsed;
  if (receipt.schema != kReceiptSchemaV3) {
    return Problem{"UNSUPPORTED_SCHEMA", "only " + std::string(kReceiptSchemaV3) + " receipts carry log keys"};
  }
  Expected<LogKeys, Problem> log_keys = read_log_keys(receipt);
  if (!log_keys) return log_keys.error();

  Expected<json::Document, std::string> parsed_evidence = json::parse(evidence_text);
  if (!parsed_evidence) return Problem{"PARSE", "evidence is not strict JSON: " + parsed_evidence.error()};
  evidence_json = std::move(parsed_evidence).value();
  const json::Value& evidence = evidence_json.root();
  if (auto mapped = json::check_record(evidence, kLogEvidence); !mapped.ok()) {
    return Problem{"PARSE", "not log evidence: " + mapped.error()};
  }
  const std::string_view schema = json::string_member(evidence, "schema");
  if (schema != kLogEvidenceSchema) {
    return Problem{"UNSUPPORTED_SCHEMA",
                   "evidence schema '" + std::string(schema) + "' is not " + std::string(kLogEvidenceSchema)};
  }

  Subject subject;
  const bool key_hex =
      receipt.public_key_hex.size() == 2 * crypto::kMldsa65PublicKeyBytes && is_lowercase_hex(receipt.public_key_hex);
  if (key_hex) subject.live_key = hex_decode(receipt.public_key_hex).value_or(std::vector<uint8_t>());
  if (subject.live_key.size() != crypto::kMldsa65PublicKeyBytes ||
      crypto::sha256_hex(subject.live_key) != json::string_member(evidence, "key_id")) {
    return Problem{"WRONG_RECEIPT", "the evidence is for a different key id than this receipt"};
  }
  subject.key_id = crypto::sha256_hex(subject.live_key);

  // The binding is computed from the receipt's own key: a quote made for any other key, or
  // for other log keys, carries other report data.
  if (!key_is_bound(receipt, subject.live_key)) {
    return Problem{"KEY_NOT_BOUND", "the receipt's quote does not carry the binding of its key and log keys"};
  }

  const std::span<const json::Value> sigsum = json::array_member(evidence, "sigsum");
  const std::span<const json::Value> rekor = json::array_member(evidence, "rekor");
  if (sigsum.empty() || sigsum.size() > kMaxEvidenceSigsumProofs || rekor.size() > kMaxEvidenceRekorEntries) {
    return Problem{"PARSE", "evidence must list 1 to 16 Sigsum proofs and at most 16 Rekor entries"};
  }
  for (const json::Value& doc : sigsum) {
    SigsumDoc entry{json::string_member(doc, "log_key_hex"), json::u64_member(doc, "leaf_index"),
                    json::string_member(doc, "proof"), std::nullopt};
    if (const json::Value* gate = json::member(doc, "gate_signature")) entry.gate_signature = text_of(*gate);
    subject.sigsum.push_back(entry);
  }
  for (const json::Value& entry : rekor) subject.rekor.push_back(text_of(entry));

  subject.receipt_hash = crypto::sha256(as_bytes(receipt_text));
  subject.log_keys = std::move(log_keys).value();
  return subject;
}

bool gate_verifies(std::string_view signature_hex, const SigsumDoc& doc, const Subject& subject) {
  // Anything longer than one signature cannot verify; it is refused before it is decoded.
  if (signature_hex.size() != 2 * crypto::kMldsa65SignatureBytes || !is_lowercase_hex(signature_hex)) return false;
  const std::optional<std::vector<uint8_t>> signature = hex_decode(signature_hex);
  if (!signature) return false;
  const std::string statement = gate_statement(doc.log_key_hex, doc.leaf_index, subject.receipt_hash);
  return crypto::mldsa65_verify(subject.live_key, as_bytes(statement), as_bytes(kGateContext), *signature);
}

// One proof, judged on its own.
void check_sigsum_proof(size_t number, const SigsumDoc& doc, const Subject& subject,
                        const Expected<tlog::SigsumPolicy, tlog::TlogError>& policy, LogEvidenceReport& report) {
  const std::string label = "Sigsum proof " + decimal(number);
  if (doc.log_key_hex.size() != 64 || !is_lowercase_hex(doc.log_key_hex)) {
    report.problems.push_back({"PARSE", label + ": log_key_hex is malformed"});
    return;
  }
  if (!policy) {
    report.problems.push_back({"SIGSUM", tlog_message(label, policy.error())});
    return;
  }
  const Expected<tlog::VerifiedSigsumProof, tlog::TlogError> verified =
      tlog::verify_sigsum_proof(doc.proof, subject.receipt_hash, subject.log_keys.sigsum_key, *policy);
  if (!verified) {
    report.problems.push_back({"SIGSUM", tlog_message(label, verified.error())});
    return;
  }
  const std::vector<uint8_t> stated_key = hex_decode(doc.log_key_hex).value_or(std::vector<uint8_t>());
  if (verified->log_key_hash != crypto::sha256(stated_key) || verified->leaf_index != doc.leaf_index) {
    report.problems.push_back({"SIGSUM", label + ": not for the stated log or leaf index"});
    return;
  }

  SigsumResult result{std::string(doc.log_key_hex), verified->leaf_index, verified->tree_size, {}, false};
  for (const tlog::SigsumCosignature& cosignature : verified->witnesses) {
    result.witnesses.emplace_back(cosignature.witness, cosignature.timestamp);
  }
  if (doc.gate_signature) {
    result.gate_attested = gate_verifies(*doc.gate_signature, doc, subject);
    if (!result.gate_attested) {
      report.problems.push_back({"GATE_SIGNATURE", label + ": the gate attestation does not verify under the receipt's key"});
    }
  }
  report.sigsum.push_back(std::move(result));
}

// One entry, judged on its own.
void check_rekor_entry(size_t number, std::string_view text, const Subject& subject,
                       const Expected<tlog::RekorLog, tlog::TlogError>& log, LogEvidenceReport& report) {
  const std::string label = "Rekor entry " + decimal(number);
  const Expected<json::Document, std::string> entry = json::parse(text);
  if (!entry) {
    report.problems.push_back({"REKOR", label + " is not JSON"});
    return;
  }
  if (!log) {
    report.problems.push_back({"REKOR", tlog_message(label, log.error())});
    return;
  }
  const Expected<tlog::VerifiedRekorEntry, tlog::TlogError> verified =
      tlog::verify_rekor_entry(entry->root(), subject.receipt_hash, subject.log_keys.rekor_spki, *log);
  if (!verified) {
    report.problems.push_back({"REKOR", tlog_message(label, verified.error())});
    return;
  }
  report.rekor_log_indexes.push_back(verified->log_index);
}

}  // namespace

LogEvidenceTrust make_log_evidence_trust(std::string_view sigsum_policy_text, std::string_view rekor_log_file) {
  return {tlog::parse_sigsum_policy(sigsum_policy_text), tlog::read_rekor_log_file(rekor_log_file)};
}

std::string gate_statement(std::string_view log_key_hex, uint64_t leaf_index, const std::array<uint8_t, 32>& receipt_hash) {
  return std::string(kGateStatementSchema) + "\nlog=" + std::string(log_key_hex) + "\nleaf_index=" + decimal(leaf_index) +
         "\nreceipt_sha256=" + hex_encode(receipt_hash) + "\n";
}

LogEvidenceReport verify_log_evidence(std::string_view receipt, std::string_view evidence, const LogEvidenceTrust& trust) {
  LogEvidenceReport report;
  report.scope = kLogEvidenceScope;
  json::Document evidence_json;
  Expected<Subject, Problem> subject = read_subject(receipt, evidence, evidence_json);
  if (!subject) {
    report.problems.push_back(std::move(subject).error());
  } else {
    const Subject& s = *subject;
    report.key_id = s.key_id;
    for (size_t i = 0; i < s.sigsum.size(); ++i) check_sigsum_proof(i + 1, s.sigsum[i], s, trust.sigsum_policy, report);
    for (size_t i = 0; i < s.rekor.size(); ++i) check_rekor_entry(i + 1, s.rekor[i], s, trust.rekor_log, report);
  }
  report.valid = report.problems.empty();
  report.outcome = report.valid ? Outcome::Valid : Outcome::Invalid;
  return report;
}

}  // namespace orv::tdx
