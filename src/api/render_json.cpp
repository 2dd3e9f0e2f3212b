#include "api/render_json.h"

#include "api/json_writer.h"

namespace orv::api {
namespace {

Json problems(const std::vector<Problem>& list, bool with_line) {
  Json::Array out;
  for (const Problem& p : list) {
    Json::Object object;
    if (with_line) object.emplace_back("line", p.line);
    object.emplace_back("code", p.code.text());
    object.emplace_back("message", p.message);
    out.emplace_back(std::move(object));
  }
  return out;
}

Json text_map(const TextMap& map) {
  Json::Object out;
  for (const auto& [key, value] : map) out.emplace_back(key, value);
  return out;
}

Json strings(const std::vector<std::string>& list) { return Json::Array(list.begin(), list.end()); }

Json receipt(const sig::ReceiptVerdict& v) {
  return Json::Object{
      {"format", sig::format_word(v.format)},
      {"outcome", outcome_json(v.outcome)},
      {"valid", v.valid},
      {"problems", problems(v.problems, false)},
      {"facts", text_map(v.facts)},
      {"intermediate", text_map(v.intermediate)},
      {"scope", v.scope},
  };
}

Json level2(const tdx::Level2Report& r) {
  return Json::Object{
      {"leg", r.leg},
      {"outcome", outcome_json(r.outcome)},
      {"valid", r.valid},
      {"problems", problems(r.problems, false)},
      {"evaluated_at", r.evaluated_at},
      {"tcb_status", Json::optional(r.tcb_status)},
      {"tcb_evaluation_data_number", r.tcb_evaluation_data_number ? Json(uint64_t{*r.tcb_evaluation_data_number}) : Json()},
      {"advisory_ids", strings(r.advisory_ids)},
      {"fmspc", Json::optional(r.fmspc)},
      {"snapshot_fetched_at_claimed", r.snapshot_fetched_at_claimed},
      {"collateral_valid_until", Json::optional(r.collateral_valid_until)},
      {"receipt_issued_at_claimed", r.receipt_issued_at_claimed},
      {"prev_receipt_sha256", Json::optional(r.prev_receipt_sha256)},
      {"sigsum_chain_key_hex", Json::optional(r.sigsum_chain_key_hex)},
      {"measurements", text_map(r.measurements)},
      {"mr_kms_observed", Json::optional(r.mr_kms_observed)},
      {"notes", strings(r.notes)},
      {"scope", r.scope},
  };
}

Json timestamp(const tsa::TimestampReport& r) {
  Json::Array stamps;
  for (const tsa::StampResult& s : r.stamps) {
    stamps.emplace_back(Json::Object{
        {"tsa", s.tsa},
        {"gen_time", s.gen_time},
        {"gen_time_unix", s.gen_time_unix},
        {"accuracy_ms", Json::optional(s.accuracy_ms)},
        {"no_later_than", s.no_later_than},
        {"no_later_than_unix", s.no_later_than_unix},
        {"imprint_alg", s.imprint_alg},
        {"serial_hex", s.serial_hex},
        {"policy", s.policy},
        {"signer", s.signer},
        {"nonce_hex", Json::optional(s.nonce_hex)},
    });
  }
  return Json::Object{
      {"outcome", outcome_json(r.outcome)},
      {"valid", r.valid},
      {"problems", problems(r.problems, false)},
      {"stamps", std::move(stamps)},
      {"no_later_than", Json::optional(r.no_later_than)},
      {"evaluated_at", r.evaluated_at},
      {"scope", r.scope},
  };
}

std::string document(const Json& json) {
  std::string out;
  json.write(out);
  out += '\n';
  return out;
}

}  // namespace

std::string render_json(const sig::ReceiptVerdict& verdict) { return document(receipt(verdict)); }

std::string render_json(const sig::ChainReport& r) {
  Json::Array entries;
  for (const sig::ReceiptVerdict& entry : r.entries) entries.push_back(receipt(entry));
  Json::Object object{
      {"outcome", outcome_json(r.outcome)},
      {"valid", r.valid},
      {"length", r.length},
      {"head_receipt_hash", Json::optional(r.head_receipt_hash)},
      {"problems", problems(r.problems, true)},
      {"entries", std::move(entries)},
  };
  // Absent rather than empty: a consumer can tell "no head was checked" from the member.
  if (r.heads_given) {
    Json::Array heads;
    for (const sig::HeadResult& h : r.heads) {
      heads.emplace_back(Json::Object{
          {"index", h.index},
          {"outcome", outcome_json(h.outcome)},
          {"length", Json::optional(h.length)},
          {"head_receipt_hash", Json::optional(h.head_receipt_hash)},
          {"issued_at", Json::optional(h.issued_at)},
      });
    }
    object.emplace_back("heads", std::move(heads));
  }
  object.emplace_back("scope", r.scope);
  return document(object);
}

std::string render_json(const tdx::Level2Report& report) { return document(level2(report)); }

std::string render_json(const tsa::TimestampReport& report) { return document(timestamp(report)); }

std::string render_json(const tdx::KeyChainReport& r) {
  Json::Array contains;
  for (const bool found : r.contains) contains.emplace_back(found);
  return document(Json::Object{
      {"outcome", outcome_json(r.outcome)},
      {"valid", r.valid},
      {"problems", problems(r.problems, true)},
      {"length", r.length},
      {"head_receipt_sha256", Json::optional(r.head_receipt_sha256)},
      {"key_ids", strings(r.key_ids)},
      {"sigsum_chain_keys", strings(r.sigsum_chain_keys)},
      {"contains", std::move(contains)},
      {"level2_checked", r.level2_checked},
      {"scope", r.scope},
  });
}

std::string render_json(const tdx::AttestedRecordReport& r) {
  return document(Json::Object{
      {"outcome", outcome_json(r.outcome)},
      {"valid", r.valid},
      {"problems", problems(r.problems, false)},
      {"key_id", Json::optional(r.key_id)},
      {"record", receipt(r.record)},
      {"level2", level2(r.level2)},
      {"timestamp", r.timestamp ? timestamp(*r.timestamp) : Json()},
      {"key_receipt_no_later_than", Json::optional(r.key_receipt_no_later_than)},
      {"scope", r.scope},
  });
}

std::string render_json(const tdx::LogEvidenceReport& r) {
  Json::Array sigsum;
  for (const tdx::SigsumResult& s : r.sigsum) {
    Json::Array witnesses;
    for (const auto& [name, time] : s.witnesses) witnesses.emplace_back(Json::Array{name, time});
    sigsum.emplace_back(Json::Object{
        {"log_key_hex", s.log_key_hex},
        {"leaf_index", s.leaf_index},
        {"tree_size", s.tree_size},
        {"witnesses", std::move(witnesses)},
        {"gate_attested", s.gate_attested},
    });
  }
  return document(Json::Object{
      {"outcome", outcome_json(r.outcome)},
      {"valid", r.valid},
      {"problems", problems(r.problems, false)},
      {"key_id", Json::optional(r.key_id)},
      {"sigsum", std::move(sigsum)},
      {"rekor_log_indexes", Json::Array(r.rekor_log_indexes.begin(), r.rekor_log_indexes.end())},
      {"scope", r.scope},
  });
}

}  // namespace orv::api
