#include "api/render_json.h"

#include "api/json_writer.h"
#include "json/string_literal.h"

namespace orv::api {
namespace {

constexpr size_t kPieceSize = 64 * 1024;

Json problem(const Problem& p, bool with_line) {
  Json::Object object;
  if (with_line) object.emplace_back("line", p.line);
  object.emplace_back("code", p.code.text());
  object.emplace_back("message", p.message);
  return object;
}

Json problems(const std::vector<Problem>& list, bool with_line) {
  Json::Array out;
  for (const Problem& p : list) out.push_back(problem(p, with_line));
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

// The chain report's top-level object, member by member, with the bytes Json::write gives the
// whole object. Long lists are written item by item and the text is handed on whenever it has
// grown to a piece, so memory stays at one piece and one item.
class ChainReportWriter {
 public:
  explicit ChainReportWriter(const ReportSink& sink) : sink_(sink) { out_ = "{\n"; }

  void member(std::string_view name, const Json& value) {
    start(name);
    value.write(out_, 1);
  }

  template <class List, class Render>
  void array(std::string_view name, const List& list, size_t count, const Render& render) {
    start(name);
    if (count == 0) {
      out_ += "[]";
      return;
    }
    out_ += "[\n";
    size_t written = 0;
    for (const auto& item : list) {
      if (stopped_) return;
      out_ += "    ";
      render(item).write(out_, 2);
      out_ += ++written < count ? ",\n" : "\n";
      if (out_.size() >= kPieceSize) hand_on();
    }
    out_ += "  ]";
  }

  void finish() {
    out_ += "\n}\n";
    hand_on();
  }

 private:
  void start(std::string_view name) {
    if (!first_) out_ += ",\n";
    first_ = false;
    out_ += "  ";
    json::append_string_literal(out_, name);
    out_ += ": ";
  }

  void hand_on() {
    if (!stopped_ && !out_.empty()) stopped_ = !sink_(out_);
    out_.clear();
  }

  const ReportSink& sink_;
  std::string out_;
  bool first_ = true;
  bool stopped_ = false;
};

}  // namespace

std::string render_json(const sig::ReceiptVerdict& verdict) { return document(receipt(verdict)); }

std::string render_json(const sig::ChainReport& report) {
  std::string out;
  render_json(report, [&out](std::string_view piece) {
    out += piece;
    return true;
  });
  return out;
}

void render_json(const sig::ChainReport& r, const ReportSink& sink) {
  ChainReportWriter out(sink);
  out.member("outcome", outcome_json(r.outcome));
  out.member("valid", r.valid);
  out.member("length", r.length);
  out.member("head_receipt_hash", Json::optional(r.head_receipt_hash));
  out.array("problems", r.problems, r.problems.size(), [](const Problem& p) { return problem(p, true); });
  out.array("entries", r.entries, r.entries.size(), receipt);
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
    out.member("heads", heads);
  }
  out.member("scope", r.scope);
  out.finish();
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
