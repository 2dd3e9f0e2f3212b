// Builds notary documents for tests: P-384 keys, lab receipts with their hash links and both
// signatures, refusals, chains and signed chain heads. Every document starts valid; a test
// changes one thing and reseals what it wants to stay valid.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

namespace orv::test {

class P384TestKey {
 public:
  P384TestKey();  // a fresh key
  // The same key and the same signatures on every run and every OpenSSL version: the private
  // scalar and each nonce are derived from `seed` (and the message) by SHA-384.
  explicit P384TestKey(std::string_view seed);
  ~P384TestKey();
  P384TestKey(P384TestKey&&) noexcept;
  P384TestKey& operator=(P384TestKey&&) noexcept;

  std::string public_pem() const;
  // Raw r||s, 96 bytes, over SHA-384 of the message, as hex.
  std::string sign_hex(std::string_view message) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One JSON object as text, written compactly by RapidJSON (member order kept).
std::string to_json(const rapidjson::Value& value);
// The canonical bytes of a value (fails the test when it does not canonicalise).
std::string canonical(const rapidjson::Value& value);
std::string sha384_hex_of(std::string_view bytes);

// A lab receipt under construction. Parts are plain JSON objects a test may edit; link() writes
// the manifest and attestation hashes into the parts that name them, sign_execution() has the
// agent sign the execution record, seal() fills receipt_hash and the notary's countersignature.
class LabReceiptBuilder {
 public:
  LabReceiptBuilder(const P384TestKey& notary, const P384TestKey& agent, std::string prev_receipt_hash = "GENESIS",
                    int serial = 1);

  rapidjson::Document receipt;  // {"core": {...}, "receipt_hash": "", "broker_signature_hex": ""}
  rapidjson::Value& core() { return receipt["core"]; }
  rapidjson::Value& part(const char* name) { return receipt["core"][name]; }
  void set(rapidjson::Value& object, const char* name, std::string_view text);

  LabReceiptBuilder& link();
  LabReceiptBuilder& sign_execution();
  LabReceiptBuilder& seal();
  // link, sign_execution and seal: a valid receipt.
  LabReceiptBuilder& finish() { return link().sign_execution().seal(); }
  std::string text() const { return to_json(receipt); }
  std::string receipt_hash() const { return receipt["receipt_hash"].GetString(); }

 private:
  const P384TestKey& notary_;
  const P384TestKey& agent_;
};

// A signed refusal; seal() fills refusal_hash and the signature over the schema line and core.
class RefusalBuilder {
 public:
  RefusalBuilder(const P384TestKey& notary, std::string prev_refusal_hash = "GENESIS", int serial = 1);

  rapidjson::Document refusal;
  rapidjson::Value& core() { return refusal["core"]; }
  void set(const char* name, std::string_view text);

  RefusalBuilder& seal();
  std::string text() const { return to_json(refusal); }
  std::string refusal_hash() const { return refusal["refusal_hash"].GetString(); }

 private:
  const P384TestKey& notary_;
};

// A signed chain head over the given entry hashes (first, and the one at `length`).
std::string chain_head(const P384TestKey& notary, const std::string& first_hash, uint64_t length, const std::string& head_hash,
                       const std::string& issued_at = "2026-12-01T00:00:00Z");

// A chain of `count` valid lab receipts, one per line, each linking to the one before.
struct TestChain {
  std::vector<std::string> lines;
  std::vector<std::string> hashes;
  std::string text() const;
};
TestChain lab_receipt_chain(const P384TestKey& notary, const P384TestKey& agent, int count);

}  // namespace orv::test
