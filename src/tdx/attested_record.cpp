#include "tdx/attested_record.h"

#include <string>
#include <vector>

#include "core/hex.h"
#include "crypto/digest.h"
#include "json/document.h"
#include "json/record.h"
#include "sig/receipt.h"
#include "tdx/level2.h"
#include "tsa/stamp_file.h"

namespace orv::tdx {
namespace {

constexpr uint64_t kKeyReceiptLimit = 1048576;

// The key named by the key receipt, taken only as a candidate: Level 2 decides whether Intel's
// quote binds it, and the record is judged under exactly these characters.
std::optional<std::string> named_key(std::string_view key_receipt) {
  if (key_receipt.size() > kKeyReceiptLimit || !json::strict_check(key_receipt).ok()) return std::nullopt;
  Expected<json::Document, std::string> parsed = json::parse(key_receipt);
  if (!parsed || !parsed->root().IsObject()) return std::nullopt;
  const json::Value* key = json::member(parsed->root(), "public_key_hex");
  if (key == nullptr || !key->IsString()) return std::nullopt;
  return std::string(key->GetString(), key->GetStringLength());
}

void carry(std::vector<Problem>& into, const std::vector<Problem>& from, std::string_view origin,
           std::string_view left_out = {}) {
  for (const Problem& problem : from) {
    if (!left_out.empty() && problem.code == left_out) continue;
    into.push_back({problem.code, std::string(origin) + problem.message});
  }
}

}  // namespace

AttestedRecordReport verify_attested_record(const AttestedRecordInputs& in) {
  AttestedRecordReport report;
  report.scope = kAttestedRecordScope;
  const std::optional<std::string> key = named_key(in.key_receipt);
  const std::string_view key_text = key ? std::string_view(*key) : std::string_view();

  report.level2 = evaluate_level2({in.key_receipt, key_text, in.snapshot, in.expected_td, in.now, in.intel_root_der}).report;
  report.record = sig::check_receipt(in.record, key_text);
  // A stamp the user named is always judged: an empty one is a failed proof of time, not an
  // absent one.
  if (in.stamp) report.timestamp = tsa::verify_stamp_file(in.key_receipt, *in.stamp, in.authorities, in.now);

  if (!key) report.problems.push_back({"PARSE", "key receipt: not strict JSON with exactly one public_key_hex"});
  carry(report.problems, report.level2.problems, "key receipt: ", key ? "" : "PIN_MISSING");
  const bool live = report.record.format == sig::ReceiptFormat::LiveRecord;
  if (!live && report.record.problems.empty()) {
    report.problems.push_back({"UNKNOWN_FORMAT", "the document is not a live-service record"});
  }
  carry(report.problems, report.record.problems, "record: ");
  if (report.timestamp) carry(report.problems, report.timestamp->problems, "timestamp: ");

  // No key means no key id, rather than the hash of nothing.
  if (key && !key->empty()) {
    if (const std::optional<std::vector<uint8_t>> bytes = hex_decode(*key)) report.key_id = crypto::sha256_hex(*bytes);
  }
  if (report.timestamp && report.timestamp->valid) report.key_receipt_no_later_than = report.timestamp->no_later_than;

  report.valid = key && live && report.level2.valid && report.record.valid && (!report.timestamp || report.timestamp->valid) &&
                 report.problems.empty();
  report.outcome = report.valid                                ? Outcome::Valid
                   : report.level2.outcome == Outcome::Refused ? Outcome::Refused
                                                               : Outcome::Invalid;
  return report;
}

}  // namespace orv::tdx
