#include "tlog/rekor.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>
#include <vector>

#include "core/base64.h"
#include "core/hex.h"
#include "crypto/p256_prehashed.h"
#include "json/record.h"
#include "tlog/note.h"

namespace orv::tlog {
namespace {

using json::Value;

// DER of SEQUENCE { SEQUENCE { OID 1.3.101.112 }, BIT STRING (33 bytes, no unused bits) }.
constexpr std::array<uint8_t, 12> kEd25519SpkiPrefix = {0x30, 0x2a, 0x30, 0x05, 0x06, 0x03, 0x2b, 0x65, 0x70, 0x03, 0x21, 0x00};

TlogError parse_error(std::string message) { return tlog_error("TLOG_PARSE", std::move(message)); }

// Every object of an entry may hold only its listed members, each once: a second member of
// the same name is refused too, since readers differ on which of the two they would use.
bool only_members(const Value* object, std::initializer_list<std::string_view> allowed) {
  if (object == nullptr || !object->IsObject()) return true;
  std::vector<std::string_view> seen;
  for (const auto& m : object->GetObject()) {
    const std::string_view name(m.name.GetString(), m.name.GetStringLength());
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) return false;
    if (std::find(seen.begin(), seen.end(), name) != seen.end()) return false;
    seen.push_back(name);
  }
  return true;
}

const Value* child(const Value* object, std::string_view name) {
  return object == nullptr ? nullptr : json::member(*object, name);
}

std::optional<std::string_view> string_of(const Value* value) {
  if (value == nullptr || !value->IsString()) return std::nullopt;
  return std::string_view(value->GetString(), value->GetStringLength());
}

// Rekor writes 64-bit integers as JSON strings of decimal digits.
std::optional<uint64_t> canonical_integer(const Value* value) {
  const std::optional<std::string_view> text = string_of(value);
  return text ? parse_canonical_decimal(*text) : std::nullopt;
}

std::optional<std::vector<uint8_t>> base64_of(const Value* value) {
  const std::optional<std::string_view> text = string_of(value);
  return text ? base64_decode(*text) : std::nullopt;
}

TlogError missing_or_not_base64(std::string_view label) { return parse_error(std::string(label) + " is missing or not base64"); }
TlogError missing_or_not_integer(std::string_view label) {
  return parse_error(std::string(label) + " is missing or not a canonical integer");
}
TlogError unexpected_fields(std::string_view label) { return parse_error(std::string(label) + " has unexpected fields"); }

bool valid_origin(std::string_view origin) {
  return !origin.empty() && std::all_of(origin.begin(), origin.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x21 && byte <= 0x7E && c != '+';
  });
}

template <size_t N>
bool equals(const std::vector<uint8_t>& bytes, const std::array<uint8_t, N>& expected) {
  return bytes.size() == N && std::equal(bytes.begin(), bytes.end(), expected.begin());
}

struct Statement {
  bool certificate = false;
  std::vector<uint8_t> public_key;
  std::vector<uint8_t> digest;
  std::vector<uint8_t> signature;
  std::string_view key_details;
  std::string_view algorithm;
};

// The body's shape, with nothing judged yet about whose statement it is.
Expected<Statement, TlogError> read_body(const Value& body) {
  const Value* spec = child(&body, "spec");
  const Value* hashed = child(spec, "hashedRekordV002");
  const Value* data = child(hashed, "data");
  const Value* signature = child(hashed, "signature");
  const Value* verifier = child(signature, "verifier");
  const Value* public_key = child(verifier, "publicKey");
  const Value* certificate = child(verifier, "x509Certificate");

  if (!only_members(&body, {"apiVersion", "kind", "spec"})) return unexpected_fields("entry body");
  if (!only_members(spec, {"hashedRekordV002"})) return unexpected_fields("spec");
  if (!only_members(hashed, {"data", "signature"})) return unexpected_fields("hashedRekordV002");
  if (!only_members(data, {"algorithm", "digest"})) return unexpected_fields("data");
  if (!only_members(signature, {"content", "verifier"})) return unexpected_fields("signature");
  if (!only_members(verifier, {"keyDetails", "publicKey", "x509Certificate"})) return unexpected_fields("verifier");
  if (!only_members(public_key, {"rawBytes"})) return unexpected_fields("publicKey");
  if (!only_members(certificate, {"rawBytes"})) return unexpected_fields("x509Certificate");

  if (string_of(child(&body, "apiVersion")) != "0.0.2" || string_of(child(&body, "kind")) != "hashedrekord" ||
      hashed == nullptr || !hashed->IsObject()) {
    return parse_error("entry is not hashedrekord 0.0.2");
  }
  if ((public_key == nullptr) == (certificate == nullptr)) return parse_error("entry must name exactly one verifier");

  Statement statement;
  statement.certificate = certificate != nullptr;
  if (public_key != nullptr) {
    std::optional<std::vector<uint8_t>> raw = base64_of(child(public_key, "rawBytes"));
    if (!raw) return missing_or_not_base64("publicKey");
    statement.public_key = std::move(*raw);
  } else if (!base64_of(child(certificate, "rawBytes"))) {
    return missing_or_not_base64("certificate");
  }
  std::optional<std::vector<uint8_t>> digest = base64_of(child(data, "digest"));
  if (!digest) return missing_or_not_base64("data.digest");
  statement.digest = std::move(*digest);
  std::optional<std::vector<uint8_t>> content = base64_of(child(signature, "content"));
  if (!content) return missing_or_not_base64("signature.content");
  statement.signature = std::move(*content);
  const std::optional<std::string_view> key_details = string_of(child(verifier, "keyDetails"));
  if (!key_details) return parse_error("keyDetails missing");
  statement.key_details = *key_details;
  const std::optional<std::string_view> algorithm = string_of(child(data, "algorithm"));
  if (!algorithm) return parse_error("data.algorithm missing");
  statement.algorithm = *algorithm;
  return statement;
}

}  // namespace

Expected<RekorLog, TlogError> make_rekor_log(std::string_view origin, std::span<const uint8_t> spki) {
  if (!valid_origin(origin)) return parse_error("log origin is not a valid note key name");
  if (spki.size() != kEd25519SpkiPrefix.size() + crypto::kEd25519KeyBytes ||
      !std::equal(kEd25519SpkiPrefix.begin(), kEd25519SpkiPrefix.end(), spki.begin()) ||
      !crypto::is_ed25519_public_key(spki.subspan(kEd25519SpkiPrefix.size()))) {
    return parse_error("log key is not an Ed25519 SPKI");
  }
  RekorLog log;
  log.origin = std::string(origin);
  std::copy(spki.begin() + kEd25519SpkiPrefix.size(), spki.end(), log.key.begin());
  log.log_id = note_key_id(log.origin, log.key);
  return log;
}

Expected<RekorLog, TlogError> make_rekor_log(std::string_view origin, std::string_view spki_base64) {
  const std::optional<std::vector<uint8_t>> spki = base64_decode(spki_base64);
  if (!spki) {
    if (!valid_origin(origin)) return parse_error("log origin is not a valid note key name");
    return parse_error("log key is not an Ed25519 SPKI");
  }
  return make_rekor_log(origin, std::span<const uint8_t>(*spki));
}

Expected<RekorLog, TlogError> read_rekor_log_file(std::string_view text) {
  std::optional<std::string_view> origin, spki, id_base64, id_hex, key_hex;
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const size_t colon = line.find(": ");
    if (colon == std::string_view::npos) continue;
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = line.substr(colon + 2);
    if (name == "origin") origin = value;
    if (name == "key_spki_base64") spki = value;
    if (name == "log_id_base64") id_base64 = value;
    if (name == "log_id_hex") id_hex = value;
    if (name == "key_ed25519_raw_hex") key_hex = value;
  }
  if (!origin || !spki) return parse_error("pinned Rekor log file lacks origin or key_spki_base64");
  Expected<RekorLog, TlogError> log = make_rekor_log(*origin, *spki);
  if (!log) return log;
  const bool id_ok = (!id_base64 || base64_decode(*id_base64) == std::vector<uint8_t>(log->log_id.begin(), log->log_id.end())) &&
                     (!id_hex || hex_decode(*id_hex) == std::vector<uint8_t>(log->log_id.begin(), log->log_id.end())) &&
                     (!key_hex || hex_decode(*key_hex) == std::vector<uint8_t>(log->key.begin(), log->key.end()));
  if (!id_ok) return parse_error("pinned Rekor log file does not agree with its own key and origin");
  return log;
}

Expected<VerifiedRekorEntry, TlogError> verify_rekor_entry(const json::Value& entry, const Hash& artifact_digest,
                                                           std::span<const uint8_t> signer_spki, const RekorLog& log) {
  // 1. integratedTime and inclusionPromise may hold anything: they are never used.
  if (!only_members(&entry, {"logIndex", "logId", "kindVersion", "integratedTime", "inclusionPromise", "inclusionProof",
                             "canonicalizedBody"})) {
    return unexpected_fields("tlog entry");
  }

  // 2.
  const Value* kind_version = child(&entry, "kindVersion");
  if (!only_members(kind_version, {"kind", "version"})) return unexpected_fields("kindVersion");
  if (string_of(child(kind_version, "kind")) != "hashedrekord" || string_of(child(kind_version, "version")) != "0.0.2") {
    return parse_error("tlog entry is not hashedrekord 0.0.2");
  }

  // 3.
  const Value* log_id = child(&entry, "logId");
  if (!only_members(log_id, {"keyId"})) return unexpected_fields("logId");
  const std::optional<std::vector<uint8_t>> key_id = base64_of(child(log_id, "keyId"));
  if (!key_id) return missing_or_not_base64("logId");
  if (!equals(*key_id, log.log_id)) return tlog_error("TLOG_UNKNOWN_LOG", "the entry is from a different log");

  // 4.
  const std::optional<uint64_t> log_index = canonical_integer(child(&entry, "logIndex"));
  if (!log_index) return missing_or_not_integer("logIndex");

  // 5. An inclusion promise alone is never enough: without a proof nothing ties the entry to
  // a tree head that the log signed.
  const Value* proof = child(&entry, "inclusionProof");
  if (proof == nullptr || !proof->IsObject()) {
    return tlog_error("TLOG_INCLUSION_PROOF_INVALID", "the entry has no inclusion proof");
  }
  if (!only_members(proof, {"logIndex", "rootHash", "treeSize", "hashes", "checkpoint"})) {
    return unexpected_fields("inclusionProof");
  }
  const std::optional<uint64_t> proof_index = canonical_integer(child(proof, "logIndex"));
  if (!proof_index) return missing_or_not_integer("inclusionProof.logIndex");
  if (*proof_index != *log_index) return tlog_error("TLOG_INCLUSION_PROOF_INVALID", "inclusion proof is for another index");
  const std::optional<uint64_t> tree_size = canonical_integer(child(proof, "treeSize"));
  if (!tree_size) return missing_or_not_integer("treeSize");
  const std::optional<std::vector<uint8_t>> root_bytes = base64_of(child(proof, "rootHash"));
  if (!root_bytes) return missing_or_not_base64("rootHash");
  if (root_bytes->size() != 32) return parse_error("rootHash is not 32 bytes");
  Hash root{};
  std::copy(root_bytes->begin(), root_bytes->end(), root.begin());
  const Value* hashes = child(proof, "hashes");
  if (hashes == nullptr || !hashes->IsArray() || hashes->Size() > kMaxRekorInclusionHashes) {
    return tlog_error("TLOG_INCLUSION_PROOF_INVALID", "inclusion hashes missing or too many");
  }
  std::vector<Hash> path;
  for (const Value& element : hashes->GetArray()) {
    const std::optional<std::vector<uint8_t>> node = base64_of(&element);
    if (!node || node->size() != 32) return parse_error("inclusion hash is not 32 bytes of base64");
    std::copy(node->begin(), node->end(), path.emplace_back().begin());
  }

  // 6. The signature line must carry the pinned origin as its name: the same key signing
  // under another name is another log as far as the note format is concerned.
  const Value* checkpoint = child(proof, "checkpoint");
  if (!only_members(checkpoint, {"envelope"})) return unexpected_fields("checkpoint");
  const std::optional<std::string_view> envelope = string_of(child(checkpoint, "envelope"));
  if (!envelope) return parse_error("checkpoint envelope missing");
  Expected<Note, TlogError> note = read_note(*envelope);
  if (!note) return note.error();
  if (!verify_note_signature(*note, log.origin, log.key)) {
    return tlog_error("TLOG_LOG_SIGNATURE_INVALID", "the checkpoint is not signed by the pinned log");
  }
  Expected<Checkpoint, TlogError> signed_head = read_checkpoint_body(note->body);
  if (!signed_head) return signed_head.error();
  if (signed_head->origin != log.origin || signed_head->size != *tree_size || signed_head->root != root) {
    return tlog_error("TLOG_INCLUSION_PROOF_INVALID", "the checkpoint does not match the inclusion proof");
  }

  // 7.
  const std::optional<std::vector<uint8_t>> body_bytes = base64_of(child(&entry, "canonicalizedBody"));
  if (!body_bytes) return missing_or_not_base64("canonicalizedBody");
  if (!verify_inclusion(leaf_hash(*body_bytes), *log_index, *tree_size, path, root)) {
    return tlog_error("TLOG_INCLUSION_PROOF_INVALID", "the inclusion proof does not verify");
  }

  // 8.
  if (body_bytes->size() > kMaxRekorBodyBytes) return parse_error("entry body too large");
  const std::string_view body_text(reinterpret_cast<const char*>(body_bytes->data()), body_bytes->size());
  const Expected<json::Document, std::string> body = json::parse(body_text);
  if (!body) return parse_error("entry body is not JSON");
  Expected<Statement, TlogError> statement = read_body(body->root());
  if (!statement) return statement.error();

  // 9. The logged statement must be exactly the expected one.
  if (statement->certificate) {
    return tlog_error("TLOG_LEAF_INVALID", "the entry is signed by a certificate, not the pinned key");
  }
  if (!std::equal(statement->public_key.begin(), statement->public_key.end(), signer_spki.begin(), signer_spki.end())) {
    return tlog_error("TLOG_LEAF_INVALID", "the entry is signed by a different key");
  }
  if (!equals(statement->digest, artifact_digest))
    return tlog_error("TLOG_LEAF_INVALID", "the entry is for a different artifact");
  if (statement->key_details != "PKIX_ECDSA_P256_SHA_256" || statement->algorithm != "SHA2_256") {
    return tlog_error("TLOG_LEAF_INVALID", "unsupported entry key/digest combination");
  }
  if (!crypto::is_p256_spki_key(signer_spki)) return parse_error("pinned key is not P-256");
  if (!crypto::p256_verify_der_over_digest(signer_spki, artifact_digest, statement->signature)) {
    return tlog_error("TLOG_LEAF_INVALID", "the entry signature does not verify");
  }
  return VerifiedRekorEntry{*log_index};
}

Expected<VerifiedRekorEntry, TlogError> verify_rekor_entry(std::string_view entry_json, const Hash& artifact_digest,
                                                           std::span<const uint8_t> signer_spki, const RekorLog& log) {
  const Expected<json::Document, std::string> entry = json::parse(entry_json);
  if (!entry) return parse_error("tlog entry is not JSON");
  return verify_rekor_entry(entry->root(), artifact_digest, signer_spki, log);
}

}  // namespace orv::tlog
