#include "support/notary.h"

#include <array>

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "core/hex.h"
#include "crypto/digest.h"
#include "json/canonical.h"

namespace orv::test {

struct P384TestKey::Impl {
  EVP_PKEY* key = nullptr;
  EC_GROUP* group = nullptr;
  BIGNUM* scalar = nullptr;  // set for a seeded key, which signs with derived nonces
  ~Impl() {
    EVP_PKEY_free(key);
    EC_GROUP_free(group);
    BN_clear_free(scalar);
  }
};

namespace {

// A value in [1, n-1] from SHA-384 of `bytes`: the nonce or scalar of a seeded key.
BIGNUM* derived_scalar(std::string_view bytes, const BIGNUM* order, BN_CTX* bn) {
  const std::array<uint8_t, 48> digest = crypto::sha384(as_bytes(bytes));
  BIGNUM* value = BN_bin2bn(digest.data(), static_cast<int>(digest.size()), nullptr);
  BIGNUM* below = BN_dup(order);
  BN_sub_word(below, 1);
  BN_mod(value, value, below, bn);
  BN_add_word(value, 1);
  BN_free(below);
  return value;
}

std::string bn_bytes(const BIGNUM* value) {
  std::string out(48, '\0');
  BN_bn2binpad(value, reinterpret_cast<unsigned char*>(out.data()), 48);
  return out;
}

}  // namespace

P384TestKey::P384TestKey() : impl_(std::make_unique<Impl>()) {
  impl_->key = EVP_EC_gen("P-384");
  if (impl_->key == nullptr) ADD_FAILURE() << "cannot generate a P-384 key";
}

P384TestKey::P384TestKey(std::string_view seed) : impl_(std::make_unique<Impl>()) {
  BN_CTX* bn = BN_CTX_new();
  impl_->group = EC_GROUP_new_by_curve_name(NID_secp384r1);
  impl_->scalar = derived_scalar(seed, EC_GROUP_get0_order(impl_->group), bn);
  EC_POINT* point = EC_POINT_new(impl_->group);
  EC_POINT_mul(impl_->group, point, impl_->scalar, nullptr, nullptr, bn);
  unsigned char pub[97];
  const size_t pub_len = EC_POINT_point2oct(impl_->group, point, POINT_CONVERSION_UNCOMPRESSED, pub, sizeof pub, bn);
  OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
  OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, "P-384", 0);
  OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_PRIV_KEY, impl_->scalar);
  OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, pub, pub_len);
  OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
  if (EVP_PKEY_fromdata_init(ctx) != 1 || EVP_PKEY_fromdata(ctx, &impl_->key, EVP_PKEY_KEYPAIR, params) != 1) {
    ADD_FAILURE() << "cannot make the seeded P-384 key";
  }
  EVP_PKEY_CTX_free(ctx);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(build);
  EC_POINT_free(point);
  BN_CTX_free(bn);
}
P384TestKey::~P384TestKey() = default;
P384TestKey::P384TestKey(P384TestKey&&) noexcept = default;
P384TestKey& P384TestKey::operator=(P384TestKey&&) noexcept = default;

std::string P384TestKey::public_pem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PUBKEY(bio, impl_->key);
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<size_t>(len));
  BIO_free(bio);
  return pem;
}

namespace {

// ECDSA with the nonce derived from the scalar and the digest, so that a seeded key's documents
// are the same bytes on every run.
std::string seeded_sign_hex(const EC_GROUP* group, const BIGNUM* scalar, std::string_view message) {
  BN_CTX* bn = BN_CTX_new();
  const BIGNUM* order = EC_GROUP_get0_order(group);
  const std::array<uint8_t, 48> digest = crypto::sha384(as_bytes(message));
  const std::string digest_bytes(digest.begin(), digest.end());
  BIGNUM* z = BN_bin2bn(digest.data(), static_cast<int>(digest.size()), nullptr);
  BIGNUM* k = derived_scalar(bn_bytes(scalar) + digest_bytes, order, bn);
  EC_POINT* point = EC_POINT_new(group);
  EC_POINT_mul(group, point, k, nullptr, nullptr, bn);
  BIGNUM* r = BN_new();
  BIGNUM* s = BN_new();
  EC_POINT_get_affine_coordinates(group, point, r, nullptr, bn);
  BN_nnmod(r, r, order, bn);
  BN_mod_mul(s, r, scalar, order, bn);  // s = k^-1 (z + r d) mod n
  BN_mod_add(s, s, z, order, bn);
  BN_mod_inverse(k, k, order, bn);
  BN_mod_mul(s, s, k, order, bn);
  const std::string raw = bn_bytes(r) + bn_bytes(s);
  BN_free(z);
  BN_clear_free(k);
  BN_free(r);
  BN_free(s);
  EC_POINT_free(point);
  BN_CTX_free(bn);
  return hex_encode(as_bytes(raw));
}

}  // namespace

std::string P384TestKey::sign_hex(std::string_view message) const {
  if (impl_->scalar != nullptr) return seeded_sign_hex(impl_->group, impl_->scalar, message);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  size_t der_len = 0;
  EVP_DigestSignInit(ctx, nullptr, EVP_sha384(), nullptr, impl_->key);
  EVP_DigestSign(ctx, nullptr, &der_len, reinterpret_cast<const unsigned char*>(message.data()), message.size());
  std::vector<unsigned char> der(der_len);
  EVP_DigestSign(ctx, der.data(), &der_len, reinterpret_cast<const unsigned char*>(message.data()), message.size());
  EVP_MD_CTX_free(ctx);
  const unsigned char* cursor = der.data();
  ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der_len));
  std::vector<uint8_t> raw(96);
  BN_bn2binpad(ECDSA_SIG_get0_r(sig), raw.data(), 48);
  BN_bn2binpad(ECDSA_SIG_get0_s(sig), raw.data() + 48, 48);
  ECDSA_SIG_free(sig);
  return hex_encode(raw);
}

std::string to_json(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return {buffer.GetString(), buffer.GetSize()};
}

std::string canonical(const rapidjson::Value& value) {
  Expected<std::string, std::string> bytes = json::canonicalize(value);
  EXPECT_TRUE(bytes.ok()) << (bytes ? "" : bytes.error());
  return bytes ? *bytes : std::string();
}

std::string sha384_hex_of(std::string_view bytes) { return crypto::sha384_hex(as_bytes(bytes)); }

namespace {

rapidjson::Document parse_template(const std::string& text) {
  rapidjson::Document doc;
  doc.Parse(text.c_str());
  EXPECT_FALSE(doc.HasParseError()) << text;
  return doc;
}

}  // namespace

LabReceiptBuilder::LabReceiptBuilder(const P384TestKey& notary, const P384TestKey& agent, std::string prev_receipt_hash,
                                     int serial)
    : notary_(notary), agent_(agent) {
  const std::string n = std::to_string(serial);
  receipt = parse_template(R"({"core":{
    "schema":"tamsel-fabric/records/v2","receipt_id":"rcpt-)" +
                           n + R"(","job_id":"job-)" + n + R"(",
    "manifest":{"schema":"tamsel-fabric/records/v2","job_id":"job-)" +
                           n + R"(","tenant_id":"tenant-acme",
      "plan_hash":"p1","workload":"summarise","input_url":"s3://in/)" +
                           n + R"(","input_ciphertext_hash":"c1",
      "output_url":"s3://out/)" +
                           n + R"(","policy_id":"policy-7","created_at":"2026-11-30T09:00:00Z"},
    "attestation":{"schema":"tamsel-fabric/records/v2","attestation_id":"att-)" +
                           n + R"(","job_id":"job-)" + n + R"(",
      "manifest_hash":"","agent_id":"agent-7","agent_sig_pub_pem":"","agent_kem_pub_hex":"00ff","nonce":"n)" +
                           n + R"(",
      "verdicts":[{"check":"measurement","ok":true}],"evidence_hashes":["e1","e2"],"policy_hash":"ph",
      "enforcement_profile_hash":"eph","verified_at":"2026-11-30T09:01:00Z"},
    "execution":{"schema":"tamsel-fabric/records/v2","job_id":"job-)" +
                           n + R"(","attestation_id":"att-)" + n + R"(",
      "manifest_hash":"","attestation_hash":"","result_ciphertext_hash":"r1","exit_status":"0","agent_id":"agent-7",
      "agent_started_at":"2026-11-30T09:02:00Z","agent_finished_at":"2026-11-30T09:03:00Z"},
    "execution_signature":"",
    "meter":{"release_ts":"2026-11-30T09:04:00Z","complete_ts":"2026-11-30T09:05:00Z","billable_units":12,
      "tier":"confidential","agent_started_at":"2026-11-30T09:02:00Z","agent_finished_at":"2026-11-30T09:03:00Z"},
    "prev_receipt_hash":"","issued_at":"2026-11-30T09:06:00Z","broker_pub_pem":""},
    "receipt_hash":"","broker_signature_hex":""})");
  set(core(), "prev_receipt_hash", prev_receipt_hash);
  set(core(), "broker_pub_pem", notary_.public_pem());
  set(part("attestation"), "agent_sig_pub_pem", agent_.public_pem());
}

void LabReceiptBuilder::set(rapidjson::Value& object, const char* name, std::string_view text) {
  object[name].SetString(text.data(), static_cast<rapidjson::SizeType>(text.size()), receipt.GetAllocator());
}

LabReceiptBuilder& LabReceiptBuilder::link() {
  const std::string manifest_hash = sha384_hex_of(canonical(part("manifest")));
  set(part("attestation"), "manifest_hash", manifest_hash);
  set(part("execution"), "manifest_hash", manifest_hash);
  set(part("execution"), "attestation_hash", sha384_hex_of(canonical(part("attestation"))));
  return *this;
}

LabReceiptBuilder& LabReceiptBuilder::sign_execution() {
  set(core(), "execution_signature", agent_.sign_hex(canonical(part("execution"))));
  return *this;
}

LabReceiptBuilder& LabReceiptBuilder::seal() {
  const std::string core_bytes = canonical(core());
  set(receipt, "receipt_hash", sha384_hex_of(core_bytes));
  set(receipt, "broker_signature_hex", notary_.sign_hex(core_bytes));
  return *this;
}

RefusalBuilder::RefusalBuilder(const P384TestKey& notary, std::string prev_refusal_hash, int serial) : notary_(notary) {
  const std::string n = std::to_string(serial);
  refusal = parse_template(R"({"core":{"schema":"tamsel-fabric/refusal/v1","refusal_id":"ref-)" + n + R"(","job_id":"job-)" + n +
                           R"(","tenant_id":"tenant-acme","manifest_hash":"mh","agent_id":"agent-7",
    "nonce":"n)" + n + R"(","stage":"release","reason_code":"EVIDENCE_REJECTED","reasons":["quote too old","tcb out of date"],
    "policy_hash":"ph","enforcement_profile_hash":"eph","evidence_hashes":["e1"],"released":false,
    "prev_refusal_hash":"","issued_at":"2026-11-30T10:00:00Z","broker_pub_pem":""},
    "refusal_hash":"","broker_signature_hex":""})");
  set("prev_refusal_hash", prev_refusal_hash);
  set("broker_pub_pem", notary_.public_pem());
}

void RefusalBuilder::set(const char* name, std::string_view text) {
  core()[name].SetString(text.data(), static_cast<rapidjson::SizeType>(text.size()), refusal.GetAllocator());
}

RefusalBuilder& RefusalBuilder::seal() {
  const std::string core_bytes = canonical(core());
  auto& alloc = refusal.GetAllocator();
  const std::string hash = sha384_hex_of(core_bytes);
  const std::string signature = notary_.sign_hex("tamsel-fabric/refusal/v1\n" + core_bytes);
  refusal["refusal_hash"].SetString(hash.c_str(), static_cast<rapidjson::SizeType>(hash.size()), alloc);
  refusal["broker_signature_hex"].SetString(signature.c_str(), static_cast<rapidjson::SizeType>(signature.size()), alloc);
  return *this;
}

std::string chain_head(const P384TestKey& notary, const std::string& first_hash, uint64_t length, const std::string& head_hash,
                       const std::string& issued_at) {
  rapidjson::Document head;
  head.SetObject();
  auto& alloc = head.GetAllocator();
  rapidjson::Value core(rapidjson::kObjectType);
  const std::string pem = notary.public_pem();
  core.AddMember("schema", "tamsel-fabric/chain-head/v1", alloc);
  core.AddMember("first_receipt_hash", rapidjson::Value(first_hash.c_str(), alloc), alloc);
  core.AddMember("length", rapidjson::Value(length), alloc);
  core.AddMember("head_receipt_hash", rapidjson::Value(head_hash.c_str(), alloc), alloc);
  core.AddMember("issued_at", rapidjson::Value(issued_at.c_str(), alloc), alloc);
  core.AddMember("broker_pub_pem", rapidjson::Value(pem.c_str(), alloc), alloc);
  const std::string signature = notary.sign_hex("tamsel-fabric/chain-head/v1\n" + canonical(core));
  head.AddMember("core", core, alloc);
  head.AddMember("signature_hex", rapidjson::Value(signature.c_str(), alloc), alloc);
  return to_json(head);
}

std::string TestChain::text() const {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

TestChain lab_receipt_chain(const P384TestKey& notary, const P384TestKey& agent, int count) {
  TestChain chain;
  std::string prev = "GENESIS";
  for (int i = 1; i <= count; ++i) {
    LabReceiptBuilder builder(notary, agent, prev, i);
    builder.finish();
    chain.lines.push_back(builder.text());
    chain.hashes.push_back(builder.receipt_hash());
    prev = chain.hashes.back();
  }
  return chain;
}

}  // namespace orv::test
