// The whole log-evidence check over arbitrary input, under the committed test trust of
// tests/data/log_evidence: no crash, a valid report only without problems, one problem and no
// result for every stop before the proofs, and nothing in a result that breaks its bounds.
// Input: the receipt, a NUL byte, then the evidence; without a NUL byte the whole input is
// evidence for the committed receipt.json, so that the seeds (valid evidence for it, from the
// generator script there) reach the last checks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "tdx/log_evidence.h"
#include "tlog/sigsum.h"

namespace {

std::string fixture(const char* name) {
  std::ifstream in(std::string(ORV_SOURCE_DIR "/tests/data/log_evidence/") + name, std::ios::binary);
  if (!in) std::abort();
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool lowercase_hex64(std::string_view text) {
  return text.size() == 64 &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv;
  static const tdx::LogEvidenceTrust trust = [] {
    tdx::LogEvidenceTrust made = tdx::make_log_evidence_trust(fixture("policy.txt"), fixture("rekor-log.txt"));
    if (!made.sigsum_policy || !made.rekor_log) std::abort();
    return made;
  }();
  static const std::string committed_receipt = fixture("receipt.json");
  static const std::set<std::string_view> codes = {"PARSE",  "UNSUPPORTED_SCHEMA", "WRONG_RECEIPT", "KEY_NOT_BOUND",
                                                   "SIGSUM", "GATE_SIGNATURE",     "REKOR"};

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string_view receipt = nul == std::string_view::npos ? std::string_view(committed_receipt) : input.substr(0, nul);
  const std::string_view evidence = nul == std::string_view::npos ? input : input.substr(nul + 1);

  const tdx::LogEvidenceReport r = tdx::verify_log_evidence(receipt, evidence, trust);
  if (r.valid != r.problems.empty()) std::abort();
  if (r.outcome != (r.valid ? Outcome::Valid : Outcome::Invalid)) std::abort();
  if (r.scope != tdx::kLogEvidenceScope) std::abort();
  for (const Problem& problem : r.problems) {
    if (!codes.contains(problem.code.text()) || problem.message.empty()) std::abort();
  }
  if (!r.key_id) {
    if (r.problems.size() != 1 || !r.sigsum.empty() || !r.rekor_log_indexes.empty()) std::abort();
    return 0;
  }
  if (!lowercase_hex64(*r.key_id)) std::abort();
  if (r.sigsum.size() > tdx::kMaxEvidenceSigsumProofs || r.rekor_log_indexes.size() > tdx::kMaxEvidenceRekorEntries) {
    std::abort();
  }
  if (r.valid && r.sigsum.empty()) std::abort();
  for (const orv::tdx::SigsumResult& s : r.sigsum) {
    if (!lowercase_hex64(s.log_key_hex) || s.leaf_index >= s.tree_size || s.tree_size > tlog::kMaxSigsumTreeSize) {
      std::abort();
    }
    std::set<std::string> names;
    for (const auto& [name, time] : s.witnesses) names.insert(name);
    if (names.size() != s.witnesses.size() || names.size() < 2) std::abort();
  }
  return 0;
}
