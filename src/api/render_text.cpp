#include "api/render_text.h"

#include "core/text.h"
#include "core/time_text.h"

namespace orv::api {
namespace {

// Builds one report; the frame (header, problems, scope, RESULT) is the same for every kind.
class TextReport {
 public:
  TextReport(std::string_view word, std::string_view path, std::string_view description) : word_(word) {
    out_ += word;
    out_ += "  ";
    out_ += terminal_safe(path);
    out_ += "  (";
    out_ += description;
    out_ += ")\n";
  }

  // Line numbers are shown only where the verdict kind has them (chain, key-chain).
  void problems(const std::vector<Problem>& list, bool numbered = false) {
    for (const Problem& p : list) {
      if (numbered && p.line != 0) {
        line("  line " + decimal(p.line) + ": [" + std::string(p.code.text()) + "] " + terminal_safe(p.message));
      } else {
        line("  [" + std::string(p.code.text()) + "] " + terminal_safe(p.message));
      }
    }
  }

  void line(std::string_view text) {
    out_ += text;
    out_ += '\n';
  }

  std::string finish(std::string_view scope) {
    out_ += '\n';
    out_ += scope;
    out_ += "\nRESULT: ";
    out_ += word_;
    out_ += '\n';
    return std::move(out_);
  }

 private:
  std::string_view word_;
  std::string out_;
};

std::string safe(std::string_view text) { return terminal_safe(text); }

void fact_lines(TextReport& report, const TextMap& facts) {
  for (const auto& [key, value] : facts) report.line("  " + key + ": " + safe(value));
}

std::string tcb_status_line(const tdx::Level2Report& r) {
  return "  TCB status (as found): " + (r.tcb_status ? safe(*r.tcb_status) : std::string("unknown"));
}

// key-chain and log-evidence never refuse, so their word follows `valid` alone.
std::string_view valid_word(bool valid) { return valid ? "VALID" : "INVALID"; }

}  // namespace

std::string render_text(const sig::ReceiptVerdict& v, std::string_view path) {
  TextReport report(outcome_word(v.outcome), path, sig::format_word(v.format));
  report.problems(v.problems);
  // Facts are what a valid check established; on a failed check they would read as proven.
  if (v.valid) fact_lines(report, v.facts);
  for (const auto& [key, value] : v.intermediate) report.line("  \u00b7 " + key + ": " + safe(value));
  return report.finish(v.scope);
}

std::string render_text(const sig::ChainReport& r, std::string_view path) {
  const std::string description = "chain, " + decimal(r.length) + (r.refusal_chain ? " refusals" : " receipts");
  TextReport report(outcome_word(r.outcome), path, description);
  report.problems(r.problems, true);
  if (r.head_receipt_hash) report.line("  head receipt_hash: " + safe(*r.head_receipt_hash));
  for (const sig::HeadResult& h : r.heads) {
    const std::string length = h.length ? decimal(*h.length) : "?";
    const std::string issued = h.issued_at ? safe(*h.issued_at) : "?";
    const std::string head = "  signed head " + decimal(h.index) + ": ";
    if (h.outcome == Outcome::Valid) {
      report.line(head + "VALID (length " + length + ", issued " + issued + ")");
    } else {
      report.line(head + std::string(outcome_word(h.outcome)) + " (UNVERIFIED claims: length " + length + ", issued " + issued +
                  ")");
    }
  }
  return report.finish(r.scope);
}

std::string render_text(const tdx::Level2Report& r, std::string_view path) {
  TextReport report(outcome_word(r.outcome), path, "Level 2, Intel TDX leg");
  report.problems(r.problems);
  report.line(tcb_status_line(r));
  if (r.tcb_evaluation_data_number) {
    report.line("  Intel TCB evaluation data number: " + decimal(*r.tcb_evaluation_data_number));
  }
  if (!r.advisory_ids.empty()) {
    std::string joined;
    for (const std::string& id : r.advisory_ids) joined += (joined.empty() ? "" : ", ") + safe(id);
    report.line("  Intel advisories: " + joined);
  }
  if (r.fmspc) report.line("  platform FMSPC: " + safe(*r.fmspc));
  report.line("  evaluated at (your clock): " + safe(r.evaluated_at));
  report.line("  snapshot fetched (claimed): " + safe(r.snapshot_fetched_at_claimed));
  if (r.collateral_valid_until) report.line("  Intel collateral valid until: " + safe(*r.collateral_valid_until));
  report.line("  receipt issued (claimed, not attested): " + safe(r.receipt_issued_at_claimed));
  for (const auto& [name, value] : r.measurements) report.line("  \u00b7 " + name + ": " + safe(value));
  if (r.mr_kms_observed) report.line("  \u00b7 mr_kms (observed, not pinned): " + safe(*r.mr_kms_observed));
  for (const std::string& note : r.notes) report.line("  note: " + note);
  return report.finish(r.scope);
}

std::string render_text(const tsa::TimestampReport& r, std::string_view path) {
  TextReport report(outcome_word(r.outcome), path, "timestamp");
  report.problems(r.problems);
  for (const tsa::StampResult& s : r.stamps) {
    const std::string accuracy = s.accuracy_ms ? " (accuracy " + decimal(*s.accuracy_ms) + " ms)" : " (accuracy not stated)";
    report.line("  " + safe(s.tsa) + ": " + safe(s.gen_time) + accuracy);
    report.line("    signer: " + safe(s.signer));
    report.line("    serial " + safe(s.serial_hex) + ", policy " + safe(s.policy) + ", imprint " + s.imprint_alg);
  }
  if (r.no_later_than) report.line("  this file existed no later than: " + safe(*r.no_later_than));
  report.line("  evaluated at (your clock): " + safe(r.evaluated_at));
  return report.finish(r.scope);
}

std::string render_text(const tdx::KeyChainReport& r, std::string_view path) {
  const std::string description = "key-receipt history, " + decimal(r.length) + " boots, " +
                                  (r.level2_checked ? "every receipt Intel-verified" : "hash links only");
  TextReport report(valid_word(r.valid), path, description);
  report.problems(r.problems, true);
  if (r.head_receipt_sha256) report.line("  newest receipt sha256: " + safe(*r.head_receipt_sha256));
  for (size_t i = 0; i < r.key_ids.size(); ++i) {
    report.line("  boot " + decimal(i + 1) + ": key id " + safe(r.key_ids[i]));
  }
  return report.finish(r.scope);
}

std::string render_text(const tdx::AttestedRecordReport& r, std::string_view path) {
  TextReport report(outcome_word(r.outcome), path, "attested live record");
  report.problems(r.problems);
  if (r.key_id) report.line("  key id (SHA-256 of the key): " + safe(*r.key_id));
  report.line(std::string("  record signature: ") + (r.record.valid ? "valid under the receipt's key" : "NOT valid"));
  report.line(std::string("  Intel TDX binding: ") + (r.level2.valid ? "valid against your expected TD" : "NOT valid"));
  report.line(tcb_status_line(r.level2));
  if (r.record.valid) fact_lines(report, r.record.facts);
  if (r.key_receipt_no_later_than) {
    report.line("  key receipt existed no later than: " + safe(*r.key_receipt_no_later_than) + " (timestamp)");
  } else if (r.timestamp) {
    report.line("  key receipt timestamp: NOT valid");
  } else {
    report.line("  key receipt timestamp: none given (its time is a claim)");
  }
  report.line("  evaluated at (your clock): " + safe(r.level2.evaluated_at));
  return report.finish(r.scope);
}

std::string render_text(const tdx::LogEvidenceReport& r, std::string_view path) {
  TextReport report(valid_word(r.valid), path, "public-log evidence");
  report.problems(r.problems);
  if (r.key_id) report.line("  key id (claimed until Level 2 passes): " + safe(*r.key_id));
  for (const tdx::SigsumResult& s : r.sigsum) {
    report.line("  Sigsum log " + safe(std::string_view(s.log_key_hex).substr(0, 16)) + ": leaf " + decimal(s.leaf_index) +
                " of " + decimal(s.tree_size) + (s.gate_attested ? " (boot gate attested)" : ""));
    for (const auto& [name, time] : s.witnesses) {
      report.line("    cosigned by " + safe(name) + " at " + utc_time_text(time));
    }
  }
  for (const uint64_t index : r.rekor_log_indexes) report.line("  Rekor: entry " + decimal(index));
  return report.finish(r.scope);
}

}  // namespace orv::api
