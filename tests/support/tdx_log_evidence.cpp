#include "support/tdx_log_evidence.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <sstream>

#include "core/hex.h"
#include "crypto/digest.h"
#include "crypto/mldsa65.h"
#include "support/shared_data.h"

namespace orv::test {
namespace {

std::string text_of(const rapidjson::Value& value) { return {value.GetString(), value.GetStringLength()}; }

}  // namespace

std::filesystem::path log_evidence_dir() { return std::filesystem::path(ORV_SOURCE_DIR) / "tests/data/log_evidence"; }

std::string log_evidence_file(std::string_view name) { return read_file(log_evidence_dir() / std::string(name)); }

std::string evidence_json(std::string_view key_id, const std::vector<EvidenceProof>& proofs,
                          const std::vector<std::string>& rekor, std::string_view schema) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> out(buffer);
  const auto text = [&](std::string_view value) { out.String(value.data(), static_cast<rapidjson::SizeType>(value.size())); };
  out.StartObject();
  out.Key("schema");
  text(schema);
  out.Key("key_id");
  text(key_id);
  out.Key("sigsum");
  out.StartArray();
  for (const EvidenceProof& p : proofs) {
    out.StartObject();
    out.Key("log_key_hex");
    text(p.log_key_hex);
    out.Key("leaf_index");
    out.Uint64(p.leaf_index);
    out.Key("proof");
    text(p.proof);
    if (p.gate_signature) {
      out.Key("gate_signature");
      text(*p.gate_signature);
    }
    out.EndObject();
  }
  out.EndArray();
  out.Key("rekor");
  out.StartArray();
  for (const std::string& entry : rekor) text(entry);
  out.EndArray();
  out.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

const LogEvidenceFixture& LogEvidenceFixture::get() {
  static const LogEvidenceFixture fixture;
  return fixture;
}

LogEvidenceFixture::LogEvidenceFixture() : receipt(log_evidence_file("receipt.json")) {
  rapidjson::Document doc;
  doc.Parse(receipt.c_str());
  const std::optional<std::vector<uint8_t>> live_key =
      doc.IsObject() && doc.HasMember("public_key_hex") ? hex_decode(text_of(doc["public_key_hex"])) : std::nullopt;
  if (!live_key || live_key->size() != crypto::kMldsa65PublicKeyBytes) ADD_FAILURE() << "receipt.json has no live key";
  key_id = crypto::sha256_hex(live_key.value_or(std::vector<uint8_t>()));

  std::istringstream policy(log_evidence_file("policy.txt"));
  for (std::string line; std::getline(policy, line);) {
    if (line.rfind("log ", 0) == 0) log_keys.push_back(line.substr(4, 64));
  }

  const std::string material_text = log_evidence_file("material.json");
  rapidjson::Document material;
  material.Parse(material_text.c_str());
  if (!material.IsObject() || !material.HasMember("sigsum") || !material.HasMember("rekor")) {
    ADD_FAILURE() << "material.json is not the generator's";
    return;
  }
  for (const auto& m : material["sigsum"].GetObject()) {
    proofs_[text_of(m.name)] = {text_of(m.value["log_key_hex"]), m.value["leaf_index"].GetUint64(), text_of(m.value["proof"]),
                                std::nullopt};
  }
  for (const auto& m : material["rekor"].GetObject()) rekor_[text_of(m.name)] = text_of(m.value);

  std::istringstream gates(log_evidence_file("gate-signatures.txt"));
  for (std::string line; std::getline(gates, line);) {
    const size_t space = line.find(' ');
    if (!line.empty() && line[0] != '#' && space != std::string::npos) gates_[line.substr(0, space)] = line.substr(space + 1);
  }
}

tdx::LogEvidenceTrust LogEvidenceFixture::trust() const {
  return tdx::make_log_evidence_trust(log_evidence_file("policy.txt"), log_evidence_file("rekor-log.txt"));
}

EvidenceProof LogEvidenceFixture::proof(std::string_view name, std::optional<std::string> gate) const {
  const auto found = proofs_.find(name);
  if (found == proofs_.end()) {
    ADD_FAILURE() << "material.json has no proof " << name;
    return {};
  }
  EvidenceProof proof = found->second;
  proof.gate_signature = std::move(gate);
  return proof;
}

std::string LogEvidenceFixture::rekor(std::string_view name) const {
  const auto found = rekor_.find(name);
  if (found == rekor_.end()) ADD_FAILURE() << "material.json has no Rekor entry " << name;
  return found == rekor_.end() ? std::string() : found->second;
}

std::string LogEvidenceFixture::gate(std::string_view name) const {
  const auto found = gates_.find(name);
  if (found == gates_.end()) ADD_FAILURE() << "gate-signatures.txt has no " << name;
  return found == gates_.end() ? std::string() : found->second;
}

std::string LogEvidenceFixture::evidence(const std::vector<EvidenceProof>& proofs, const std::vector<std::string>& rekor) const {
  return evidence_json(key_id, proofs, rekor);
}

}  // namespace orv::test
