// Log-evidence material for tests, all committed under tests/data/log_evidence by its generator
// script: key receipts, the test trust they are judged under, Sigsum proofs and Rekor entries
// of receipt.json by name, gate signatures over it, and a writer of evidence documents.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tdx/log_evidence.h"

namespace orv::test {

std::filesystem::path log_evidence_dir();
// A committed file of that folder, whole.
std::string log_evidence_file(std::string_view name);

struct EvidenceProof {
  std::string log_key_hex;
  uint64_t leaf_index = 0;
  std::string proof;
  std::optional<std::string> gate_signature;
};

// An evidence document with its members in the declared order.
std::string evidence_json(std::string_view key_id, const std::vector<EvidenceProof>& proofs,
                          const std::vector<std::string>& rekor, std::string_view schema = tdx::kLogEvidenceSchema);

class LogEvidenceFixture {
 public:
  // Read once per test program.
  static const LogEvidenceFixture& get();

  std::string receipt;                // receipt.json: every proof and entry below logs its hash
  std::string key_id;                 // of its live key
  std::vector<std::string> log_keys;  // the test policy's two logs, in hex

  tdx::LogEvidenceTrust trust() const;
  // A Sigsum proof of the receipt by its name in material.json ("log1-leaf7", ...), with a gate
  // signature when one is given.
  EvidenceProof proof(std::string_view name, std::optional<std::string> gate = std::nullopt) const;
  // A Rekor entry's JSON text by its name in material.json ("index5-size9", ...).
  std::string rekor(std::string_view name) const;
  // A gate signature of gate-signatures.txt by its name ("log1-leaf7", ...).
  std::string gate(std::string_view name) const;
  // Evidence for the receipt's key id.
  std::string evidence(const std::vector<EvidenceProof>& proofs, const std::vector<std::string>& rekor = {}) const;

 private:
  LogEvidenceFixture();

  std::map<std::string, EvidenceProof, std::less<>> proofs_;
  std::map<std::string, std::string, std::less<>> rekor_;
  std::map<std::string, std::string, std::less<>> gates_;
};

// The generator's witness names and the time at which witness w (from 0) cosigns.
inline constexpr std::string_view kTestWitnessNames[] = {"witness-1.test", "witness-2.test", "witness-3.test"};
inline constexpr uint64_t cosignature_time(uint64_t witness) { return 1772352000 + 60 * witness; }

}  // namespace orv::test
