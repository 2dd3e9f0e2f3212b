#include "support/tlog_fixtures.h"

#include <algorithm>

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "core/hex.h"
#include "core/text.h"
#include "crypto/digest.h"
#include "support/notary.h"
#include "tlog/note.h"
#include "tlog/sigsum.h"

namespace orv::test {

std::string base64_of(std::span<const uint8_t> bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
    if (n > 1) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (n > 2) group |= bytes[i + 2];
    out += kAlphabet[group >> 18 & 63];
    out += kAlphabet[group >> 12 & 63];
    out += n > 1 ? kAlphabet[group >> 6 & 63] : '=';
    out += n > 2 ? kAlphabet[group & 63] : '=';
  }
  return out;
}

std::string base64_of(std::string_view bytes) { return base64_of(as_bytes(bytes)); }

Hash sha256_of(std::string_view bytes) { return crypto::sha256(as_bytes(bytes)); }

Hash filler_hash(uint64_t n) { return sha256_of("filler " + decimal(n)); }

// ---- keys ----

struct Ed25519TestKey::Impl {
  EVP_PKEY* key = nullptr;
  ~Impl() { EVP_PKEY_free(key); }
};

namespace {

crypto::Ed25519Key raw_public(EVP_PKEY* key) {
  crypto::Ed25519Key out{};
  size_t len = out.size();
  if (key == nullptr || EVP_PKEY_get_raw_public_key(key, out.data(), &len) != 1 || len != out.size()) {
    ADD_FAILURE() << "cannot read an Ed25519 public key";
  }
  return out;
}

}  // namespace

Ed25519TestKey::Ed25519TestKey() : impl_(std::make_unique<Impl>()) {
  impl_->key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
  public_key_ = raw_public(impl_->key);
}

Ed25519TestKey::Ed25519TestKey(const std::array<uint8_t, 32>& seed) : impl_(std::make_unique<Impl>()) {
  impl_->key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size());
  public_key_ = raw_public(impl_->key);
}

Ed25519TestKey::~Ed25519TestKey() = default;
Ed25519TestKey::Ed25519TestKey(Ed25519TestKey&&) noexcept = default;
Ed25519TestKey& Ed25519TestKey::operator=(Ed25519TestKey&&) noexcept = default;

std::string Ed25519TestKey::public_hex() const { return hex_encode(public_key_); }

Hash Ed25519TestKey::key_hash() const { return crypto::sha256(public_key_); }

std::array<uint8_t, 64> Ed25519TestKey::sign(std::string_view message) const {
  std::array<uint8_t, 64> signature{};
  size_t len = signature.size();
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, impl_->key) != 1 ||
      EVP_DigestSign(ctx, signature.data(), &len, reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    ADD_FAILURE() << "Ed25519 signing failed";
  }
  EVP_MD_CTX_free(ctx);
  return signature;
}

// ---- reference Merkle trees ----

namespace {

uint64_t split_point(uint64_t n) {
  uint64_t k = 1;
  while (k < n / 2 + n % 2) k *= 2;  // 2k < n, written so that it cannot overflow
  return k;
}

Hash reference_node(const Hash& left, const Hash& right) {
  std::string input(1, '\x01');
  input.append(left.begin(), left.end());
  input.append(right.begin(), right.end());
  return sha256_of(input);
}

}  // namespace

Hash reference_root(std::span<const Hash> leaves) {
  if (leaves.empty()) return sha256_of("");
  if (leaves.size() == 1) return leaves[0];
  const uint64_t k = split_point(leaves.size());
  return reference_node(reference_root(leaves.first(k)), reference_root(leaves.subspan(k)));
}

std::vector<Hash> reference_path(uint64_t index, std::span<const Hash> leaves) {
  if (leaves.size() <= 1) return {};
  const uint64_t k = split_point(leaves.size());
  std::vector<Hash> path;
  if (index < k) {
    path = reference_path(index, leaves.first(k));
    path.push_back(reference_root(leaves.subspan(k)));
  } else {
    path = reference_path(index - k, leaves.subspan(k));
    path.push_back(reference_root(leaves.first(k)));
  }
  return path;
}

size_t reference_path_length(uint64_t index, uint64_t size) {
  if (size <= 1) return 0;
  const uint64_t k = split_point(size);
  return 1 + (index < k ? reference_path_length(index, k) : reference_path_length(index - k, size - k));
}

Hash reference_root_from_path(const Hash& leaf, uint64_t index, uint64_t size, std::span<const Hash> path) {
  if (size <= 1 || path.empty()) return leaf;
  const uint64_t k = split_point(size);
  const Hash& top = path.back();
  const std::span<const Hash> below = path.first(path.size() - 1);
  if (index < k) return reference_node(reference_root_from_path(leaf, index, k, below), top);
  return reference_node(top, reference_root_from_path(leaf, index - k, size - k, below));
}

// ---- Sigsum ----

SigsumTestPolicy::SigsumTestPolicy(size_t log_count, size_t witness_count, size_t threshold) {
  text = "# test policy\n";
  for (size_t i = 0; i < log_count; ++i) {
    logs.emplace_back();
    text += "log " + logs.back().public_hex() + " https://log" + decimal(i + 1) + ".test.example\n";
  }
  std::string group = "group quorum-rule " + decimal(threshold);
  for (size_t i = 0; i < witness_count; ++i) {
    witnesses.emplace_back();
    witness_names.push_back("witness-" + decimal(i + 1));
    text += "witness " + witness_names.back() + " " + witnesses.back().public_hex() + "\n";
    group += " " + witness_names.back();
  }
  if (witness_count > 0) text += group + "\nquorum quorum-rule\n";
}

tlog::SigsumPolicy SigsumTestPolicy::policy() const {
  Expected<tlog::SigsumPolicy, tlog::TlogError> parsed = tlog::parse_sigsum_policy(text);
  EXPECT_TRUE(parsed.ok()) << (parsed ? "" : parsed.error().message);
  return parsed ? *parsed : tlog::SigsumPolicy{};
}

SigsumProofBuilder::SigsumProofBuilder(const Ed25519TestKey& log, const Ed25519TestKey& submitter, const Hash& message,
                                       uint64_t size, uint64_t index)
    : log_(log) {
  const Hash checksum = crypto::sha256(message);
  std::string signed_data(tlog::kSigsumLeafNamespace);
  signed_data.push_back('\0');
  signed_data.append(checksum.begin(), checksum.end());
  const std::array<uint8_t, 64> leaf_signature = submitter.sign(signed_data);
  const Hash submitter_hash = submitter.key_hash();

  std::string leaf(checksum.begin(), checksum.end());
  leaf.append(leaf_signature.begin(), leaf_signature.end());
  leaf.append(submitter_hash.begin(), submitter_hash.end());
  leaf_hash_ = tlog::leaf_hash(as_bytes(leaf));

  header = {"version=2", "log=" + hex_encode(log.key_hash()),
            "leaf=" + hex_encode(submitter_hash) + " " + hex_encode(leaf_signature)};

  Hash root = leaf_hash_;
  if (size > 1) {
    std::vector<Hash> path;
    for (size_t i = 0; i < reference_path_length(index, size); ++i) path.push_back(filler_hash(i));
    root = reference_root_from_path(leaf_hash_, index, size, path);
    inclusion.push_back("leaf_index=" + decimal(index));
    for (const Hash& node : path) inclusion.push_back("node_hash=" + hex_encode(node));
  }
  tree_head = {"size=", "root_hash=", "signature="};
  sign_tree_head(size, root);
}

std::string SigsumProofBuilder::checkpoint_body() const {
  return tlog::compose_checkpoint_body(tlog::sigsum_origin(log_.key_hash()), size_, root_);
}

SigsumProofBuilder& SigsumProofBuilder::sign_tree_head(uint64_t size, const Hash& root) {
  size_ = size;
  root_ = root;
  tree_head[0] = "size=" + decimal(size);
  tree_head[1] = "root_hash=" + hex_encode(root);
  tree_head[2] = "signature=" + hex_encode(log_.sign(checkpoint_body()));
  return *this;
}

SigsumProofBuilder& SigsumProofBuilder::cosign(const Ed25519TestKey& witness, uint64_t timestamp) {
  const std::array<uint8_t, 64> signature = witness.sign(tlog::cosignature_message(timestamp, checkpoint_body()));
  tree_head.push_back("cosignature=" + hex_encode(witness.key_hash()) + " " + decimal(timestamp) + " " + hex_encode(signature));
  return *this;
}

std::string SigsumProofBuilder::text() const {
  auto join = [](const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
  };
  std::string out = join(header) + "\n" + join(tree_head);
  if (!inclusion.empty()) out += "\n" + join(inclusion);
  return out;
}

// ---- Rekor ----

namespace {

constexpr std::string_view kEd25519SpkiPrefixHex = "302a300506032b6570032100";

rapidjson::Document parse_json(const std::string& text) {
  rapidjson::Document doc;
  doc.Parse(text.c_str());
  EXPECT_FALSE(doc.HasParseError()) << text;
  return doc;
}

}  // namespace

RekorTestLog::RekorTestLog(std::string origin) : origin_(std::move(origin)) {}

RekorTestLog::RekorTestLog(std::string origin, const std::array<uint8_t, 32>& seed) : origin_(std::move(origin)), key_(seed) {}

std::string RekorTestLog::spki_base64() const {
  std::vector<uint8_t> spki = *hex_decode(kEd25519SpkiPrefixHex);
  spki.insert(spki.end(), key_.public_key().begin(), key_.public_key().end());
  return base64_of(spki);
}

tlog::RekorLog RekorTestLog::pinned() const {
  Expected<tlog::RekorLog, tlog::TlogError> log = tlog::make_rekor_log(origin_, spki_base64());
  EXPECT_TRUE(log.ok()) << (log ? "" : log.error().message);
  return log ? *log : tlog::RekorLog{};
}

std::string RekorTestLog::sign_note(std::string_view body, std::string_view name) const {
  const std::string signer(name.empty() ? std::string_view(origin_) : name);
  const Hash id = tlog::note_key_id(signer, key_.public_key());
  std::string blob(id.begin(), id.begin() + 4);
  const std::array<uint8_t, 64> signature = key_.sign(body);
  blob.append(signature.begin(), signature.end());
  return std::string(body) + "\n\xE2\x80\x94 " + signer + " " + base64_of(blob) + "\n";
}

RekorEntryBuilder::RekorEntryBuilder(const RekorTestLog& log, const P256TestKey& signer, const Hash& digest, uint64_t index,
                                     uint64_t size)
    : log_(log), index_(index), size_(size) {
  body = parse_json(
      R"({"apiVersion":"0.0.2","kind":"hashedrekord","spec":{"hashedRekordV002":{)"
      R"("data":{"algorithm":"SHA2_256","digest":""},)"
      R"("signature":{"content":"","verifier":{"keyDetails":"PKIX_ECDSA_P256_SHA_256","publicKey":{"rawBytes":""}}}}}})");
  auto& hashed = body["spec"]["hashedRekordV002"];
  set_string(body, hashed["data"], "digest", base64_of(digest));
  set_string(body, hashed["signature"], "content", base64_of(signer.sign_digest(digest)));
  set_string(body, hashed["signature"]["verifier"]["publicKey"], "rawBytes", base64_of(signer.spki_der()));

  const tlog::Hash id = tlog::note_key_id(log.origin(), log.key().public_key());
  entry = parse_json(R"({"logIndex":"","logId":{"keyId":""},"kindVersion":{"kind":"hashedrekord","version":"0.0.2"},)"
                     R"("integratedTime":"0","inclusionPromise":null,)"
                     R"("inclusionProof":{"logIndex":"","rootHash":"","treeSize":"","hashes":[],"checkpoint":{"envelope":""}},)"
                     R"("canonicalizedBody":""})");
  set_string(entry, entry, "logIndex", decimal(index));
  set_string(entry, entry["logId"], "keyId", base64_of(id));
  set_string(entry, entry["inclusionProof"], "logIndex", decimal(index));
  set_string(entry, entry["inclusionProof"], "treeSize", decimal(size));
  seal();
}

void set_string(rapidjson::Document& owner, rapidjson::Value& object, const char* name, std::string_view text) {
  rapidjson::Value value(text.data(), static_cast<rapidjson::SizeType>(text.size()), owner.GetAllocator());
  auto found = object.FindMember(name);
  if (found != object.MemberEnd()) {
    found->value = value;
  } else {
    object.AddMember(rapidjson::Value(name, owner.GetAllocator()), value, owner.GetAllocator());
  }
}

RekorEntryBuilder& RekorEntryBuilder::seal() { return seal_bytes(to_json(body)); }

RekorEntryBuilder& RekorEntryBuilder::seal_bytes(std::string_view body_bytes) {
  const Hash leaf = tlog::leaf_hash(as_bytes(body_bytes));
  std::vector<Hash> path;
  for (size_t i = 0; i < reference_path_length(index_, size_); ++i) path.push_back(filler_hash(100 + i));
  const Hash root = reference_root_from_path(leaf, index_, size_, path);

  auto& proof = entry["inclusionProof"];
  set_string(entry, proof, "rootHash", base64_of(root));
  proof["hashes"].SetArray();
  for (const Hash& node : path) {
    const std::string text = base64_of(node);
    proof["hashes"].PushBack(rapidjson::Value(text.c_str(), entry.GetAllocator()), entry.GetAllocator());
  }
  set_string(entry, proof["checkpoint"], "envelope", log_.sign_note(tlog::compose_checkpoint_body(log_.origin(), size_, root)));
  set_string(entry, entry, "canonicalizedBody", base64_of(body_bytes));
  return *this;
}

std::string RekorEntryBuilder::text() const { return to_json(entry); }

}  // namespace orv::test
