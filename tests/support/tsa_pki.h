// Test timestamp authorities made with OpenSSL at test time: keys, certificates with settable
// extensions and validity, hierarchies from a root through intermediates to a time-stamping
// signer, and tokens, either assembled from DER part by part (so that a test can change any one
// part and keep the rest valid) or issued by OpenSSL's own TS responder.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tsa/token.h"

namespace orv::test::tsa {

enum class KeyKind { Rsa2048, Rsa2047, P256, P384, P521, Ed25519 };

// Keys are generated once per kind and index and shared by every test of the run.
class TestKey {
 public:
  static const TestKey& get(KeyKind kind, int index = 0);
  EVP_PKEY* pkey() const { return key_.get(); }
  KeyKind kind() const { return kind_; }

 private:
  struct Free {
    void operator()(EVP_PKEY* key) const;
  };
  TestKey(KeyKind kind, EVP_PKEY* key) : kind_(kind), key_(key) {}
  KeyKind kind_;
  std::unique_ptr<EVP_PKEY, Free> key_;
};

// Times used throughout: genTime of test tokens, and a clock an hour later.
inline constexpr int64_t kGenTime = 1748779200;  // 2025-06-01T12:00:00Z
inline constexpr uint64_t kNow = kGenTime + 3600;
inline constexpr int64_t kYear = 365 * 86400;

struct Extension {
  std::string oid;
  bool critical = false;
  std::string value;  // DER placed in the extnValue OCTET STRING
};

struct CertSpec {
  std::string common_name = "Test TSA";
  std::string organization = "Orvelant Test";
  int64_t not_before = kGenTime - kYear;
  int64_t not_after = kGenTime + kYear;
  int64_t serial = 1;
  // basicConstraints (critical) when set: cA, and pathLenConstraint when >= 0.
  std::optional<bool> ca;
  int path_len = -1;
  // keyUsage (critical) bits when set, bit 0 = digitalSignature ... bit 5 = keyCertSign.
  std::optional<std::vector<int>> key_usage;
  // extKeyUsage OIDs when set, and whether critical.
  std::optional<std::vector<std::string>> ext_key_usage;
  bool ext_key_usage_critical = true;
  std::vector<Extension> extra;
  std::string digest = "SHA256";  // the signature's hash; empty for keys that take none
};

// A certificate as DER, with helpers a test needs about it.
struct TestCert {
  std::string der;
};

// Issued by `issuer` (self-signed when issuer is null) with the issuer's key.
TestCert make_cert(const CertSpec& spec, const TestKey& subject_key, const TestCert* issuer, const TestKey& issuer_key);

// Typical specs: a CA (cA true, keyCertSign) and a time-stamping signer (critical EKU).
CertSpec ca_spec(std::string name, int path_len = -1);
CertSpec signer_spec(std::string name = "Test TSA Signer");

inline constexpr const char* kTestPolicy = "1.3.6.1.4.1.99999.1";

// Root, intermediates (root first), signer; all the keys and certificates of one authority.
struct Hierarchy {
  const TestKey* root_key;
  TestCert root;
  std::vector<const TestKey*> intermediate_keys;
  std::vector<TestCert> intermediates;
  const TestKey* signer_key;
  TestCert signer;

  orv::tsa::PinnedAuthority authority(std::string name = "Test") const;
  // The certificates a well-formed token carries: signer and intermediates, root excluded.
  std::vector<std::string> token_certs() const;
};

Hierarchy make_hierarchy(KeyKind root, KeyKind signer, int intermediates = 0);

// Hash names as the tests use them.
enum class Hash { Sha256, Sha384, Sha512, Sha1 };
std::string hash_oid(Hash hash);
std::string hash_of(Hash hash, std::string_view data);

// A token assembled from its parts. Every member starts valid for the hierarchy and subject it
// was made with; build() fills what depends on other parts (imprint, message digest, certificate
// id, signature) unless a test has set it.
struct TokenBuilder {
  TokenBuilder(const Hierarchy& hierarchy, std::string subject);

  const Hierarchy* hierarchy;
  std::string subject;

  // TSTInfo members as complete elements; an empty string leaves the member out.
  std::string tst_version;
  std::string policy;
  Hash imprint_hash = Hash::Sha256;
  std::string imprint_parameters;  // default NULL
  std::optional<std::string> imprint_value;
  std::string serial;
  std::string gen_time;
  std::string accuracy;
  std::string nonce;
  std::string tsa;                      // the [0] element holding a GeneralName
  std::string extensions;               // the [1] element
  std::optional<std::string> tst_info;  // replaces the whole TSTInfo encoding

  // encapContentInfo
  std::string econtent_type;
  std::optional<std::string> econtent;  // the [0] element; "" leaves it out

  // SignedData
  std::string content_type;  // of the ContentInfo
  std::string sd_version;
  std::optional<std::vector<std::string>> digest_algorithms;  // members of the SET
  std::optional<std::vector<std::string>> certificates;       // default: the hierarchy's
  bool certificates_present = true;
  bool sort_certificates = true;
  std::string crls;  // the [1] element

  // SignerInfo
  std::string si_version;
  Hash signer_hash = Hash::Sha256;
  std::optional<std::string> sid;
  std::optional<std::string> digest_algorithm;
  std::optional<std::string> signature_algorithm;             // default: rsaEncryption (RSA) or ecdsa-with-SHAx
  std::optional<std::vector<std::string>> signed_attributes;  // whole Attribute elements
  bool signed_attributes_present = true;
  bool sort_signed_attributes = true;
  std::function<void(std::vector<std::string>&)> edit_signed_attributes;
  std::optional<std::string> signature;
  std::string unsigned_attributes;  // the [1] element
  std::vector<std::string> extra_signer_infos;

  // Attribute helpers for tests that compose their own.
  std::string content_type_attribute() const;
  std::string message_digest_attribute(const std::string& tst) const;
  std::string signing_time_attribute() const;
  std::string signing_certificate_v2_attribute(std::optional<Hash> hash = std::nullopt) const;
  static std::string attribute(std::string_view oid, const std::vector<std::string>& values);

  std::string tst_der() const;
  std::string signer_info() const;
  std::string build() const;
};

// A token made by OpenSSL's TS responder for the subject (signing-certificate-v2 with SHA-256).
std::string openssl_ts_token(const Hierarchy& hierarchy, const std::string& subject, Hash imprint = Hash::Sha256,
                             bool with_accuracy = false, bool with_nonce = false);

// A stamp file over the given tokens: [(tsa name, token DER)].
std::string stamp_file(const std::vector<std::pair<std::string, std::string>>& tokens);

}  // namespace orv::test::tsa
