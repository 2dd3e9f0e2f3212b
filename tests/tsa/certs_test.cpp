#include "tsa/certs.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include "core/hex.h"
#include "support/printers.h"
#include "support/tsa_der.h"
#include "support/tsa_pki.h"

namespace orv::tsa {
namespace {

namespace der = orv::test::der;
using namespace orv::test::tsa;

const std::string kSignerName = "CN=Test TSA Signer,O=Orvelant Test";

Cert cert_of(const std::string& der_bytes) {
  Expected<Cert, std::string> cert = decode_cert(as_bytes(der_bytes));
  if (!cert) throw std::runtime_error("test certificate does not decode");
  return std::move(cert).value();
}

Cert cert_of(const TestCert& cert) { return cert_of(cert.der); }

std::vector<Cert> certs_of(const std::vector<std::string>& ders) {
  std::vector<Cert> out;
  for (const std::string& der_bytes : ders) out.push_back(cert_of(der_bytes));
  return out;
}

std::optional<Problem> key_problem(const Cert& cert) {
  auto key = extract_signing_key(cert.x509.get());
  if (!key) return key.error();
  return std::nullopt;
}

// The signer certificate with its SubjectPublicKeyInfo changed (its signature no longer matters).
Cert with_spki(const TestCert& cert, const std::function<void(der::Node&)>& edit) {
  der::Node node = der::parse(cert.der);
  edit(node.at({0, 6}));
  return cert_of(der::write(node));
}

Problem problem(ProblemCode code, std::string message) { return Problem{code, std::move(message), 0}; }

TEST(SigningKey, AcceptsRsaFrom2048BitsAndTheTwoCurves) {
  const TestKey& root = TestKey::get(KeyKind::P256);
  const TestCert issuer = make_cert(ca_spec("Test Root"), root, nullptr, root);
  const std::pair<KeyKind, std::optional<Problem>> cases[] = {
      {KeyKind::Rsa2048, std::nullopt},
      {KeyKind::P256, std::nullopt},
      {KeyKind::P384, std::nullopt},
      {KeyKind::Rsa2047, problem("TIMESTAMP_UNSUPPORTED", "RSA key is shorter than 2048 bits")},
      {KeyKind::P521, problem("TIMESTAMP_UNSUPPORTED", "EC curve is not P-256 or P-384")},
      {KeyKind::Ed25519, problem("TIMESTAMP_UNSUPPORTED", "certificate key is not RSA or ECDSA")},
  };
  for (const auto& [kind, expected] : cases) {
    const Cert cert = cert_of(make_cert(signer_spec(), TestKey::get(kind), &issuer, root));
    EXPECT_EQ(key_problem(cert), expected) << static_cast<int>(kind);
  }
}

TEST(SigningKey, RefusesMalformedKeys) {
  const Hierarchy ec = make_hierarchy(KeyKind::P256, KeyKind::P256);
  const Hierarchy ec384 = make_hierarchy(KeyKind::P256, KeyKind::P384);
  const Hierarchy rsa = make_hierarchy(KeyKind::Rsa2048, KeyKind::Rsa2048);

  EXPECT_EQ(key_problem(with_spki(ec.signer, [](der::Node& spki) { spki.children[1].contents[0] = 1; })),
            problem("TIMESTAMP_PARSE", "public key has unused bits"));
  EXPECT_EQ(key_problem(with_spki(ec.signer, [](der::Node& spki) { spki.children[0].children[1] = der::parse(der::null()); })),
            problem("TIMESTAMP_PARSE", "EC key has no named curve"));
  EXPECT_EQ(key_problem(with_spki(ec.signer, [](der::Node& spki) { spki.children[0].children.pop_back(); })),
            problem("TIMESTAMP_PARSE", "EC key has no named curve"));
  // A point off the curve, and the point at infinity.
  EXPECT_EQ(key_problem(with_spki(ec.signer, [](der::Node& spki) { spki.children[1].contents.back() ^= 1; })),
            problem("TIMESTAMP_PARSE", "P-256 key does not parse"));
  EXPECT_EQ(key_problem(with_spki(ec.signer,
                                  [](der::Node& spki) {
                                    spki.children[1].contents = der::bytes({0, 0});
                                  })),
            problem("TIMESTAMP_PARSE", "P-256 key does not parse"));
  EXPECT_EQ(key_problem(with_spki(ec384.signer, [](der::Node& spki) { spki.children[1].contents.back() ^= 1; })),
            problem("TIMESTAMP_PARSE", "P-384 key does not parse"));
  EXPECT_EQ(key_problem(with_spki(rsa.signer,
                                  [](der::Node& spki) {
                                    spki.children[1].contents = der::bytes({0, 0x30, 0x00});
                                  })),
            problem("TIMESTAMP_PARSE", "RSA public key does not parse"));
}

TEST(SignerCertificate, RulesInOrder) {
  const TestKey& key = TestKey::get(KeyKind::P256);
  const TestCert root = make_cert(ca_spec("Test Root"), key, nullptr, key);
  const auto judged = [&](const std::function<void(CertSpec&)>& edit) {
    CertSpec spec = signer_spec();
    edit(spec);
    const Cert cert = cert_of(make_cert(spec, key, &root, key));
    return error_of(check_signer_certificate(cert.x509.get()));
  };
  const std::string policies = der::seq({der::seq({der::oid("2.5.29.32.0")})});
  const std::string server_auth = "1.3.6.1.5.5.7.3.1";
  const std::string time_stamping = "1.3.6.1.5.5.7.3.8";

  EXPECT_EQ(judged([](CertSpec&) {}), std::nullopt);
  EXPECT_EQ(judged([&](CertSpec& s) { s.extra.push_back({"2.5.29.32", false, policies}); }), std::nullopt);
  EXPECT_EQ(judged([&](CertSpec& s) {
              s.extra.push_back({"2.5.29.32", true, policies});
            }),
            problem("TIMESTAMP_CHAIN_INVALID",
                    "certificate '" + kSignerName + "' has a critical extension this verifier does not process"));

  EXPECT_EQ(judged([](CertSpec& s) { s.ca = false; }), std::nullopt);
  EXPECT_EQ(judged([](CertSpec& s) { s.ca = true; }),
            problem("TIMESTAMP_CHAIN_INVALID", "signer certificate is a CA certificate"));
  EXPECT_EQ(judged([](CertSpec& s) {
              s.extra.push_back({"2.5.29.19", false, der::integer(1)});
            }),
            problem("TIMESTAMP_PARSE", "basic constraints do not parse"));
  // Two basicConstraints could say two things; neither is believed.
  EXPECT_EQ(judged([](CertSpec& s) {
              s.ca = false;
              s.extra.push_back({"2.5.29.19", true, der::seq({})});
            }),
            problem("TIMESTAMP_PARSE", "basic constraints do not parse"));

  EXPECT_EQ(judged([](CertSpec& s) { s.key_usage.reset(); }), std::nullopt);
  EXPECT_EQ(judged([](CertSpec& s) { s.key_usage = std::vector<int>{1}; }), std::nullopt);
  EXPECT_EQ(judged([](CertSpec& s) { s.key_usage = std::vector<int>{5}; }),
            problem("TIMESTAMP_CHAIN_INVALID", "signer certificate may not sign"));
  EXPECT_EQ(judged([](CertSpec& s) {
              s.key_usage.reset();
              s.extra.push_back({"2.5.29.15", true, der::null()});
            }),
            problem("TIMESTAMP_PARSE", "key usage does not parse"));

  EXPECT_EQ(judged([](CertSpec& s) { s.ext_key_usage.reset(); }),
            problem("TIMESTAMP_CHAIN_INVALID", "signer certificate has no extended key usage"));
  EXPECT_EQ(judged([](CertSpec& s) { s.ext_key_usage_critical = false; }),
            problem("TIMESTAMP_CHAIN_INVALID", "signer extended key usage is not critical"));
  EXPECT_EQ(judged([](CertSpec& s) {
              s.ext_key_usage.reset();
              s.extra.push_back({"2.5.29.37", true, der::oid("1.3.6.1.5.5.7.3.8")});
            }),
            problem("TIMESTAMP_PARSE", "extended key usage does not parse"));
  for (const auto& purposes : {std::vector<std::string>{time_stamping, server_auth}, std::vector<std::string>{server_auth},
                               std::vector<std::string>{}}) {
    EXPECT_EQ(judged([&](CertSpec& s) { s.ext_key_usage = purposes; }),
              problem("TIMESTAMP_CHAIN_INVALID", "signer certificate is not exclusively for time-stamping"));
  }
}

// A chain built from specs: root, intermediates (from the root down), signer.
struct Chain {
  std::vector<TestCert> certs;  // root first
  std::vector<Cert> decoded;

  Chain(const CertSpec& root_spec, const std::vector<CertSpec>& intermediate_specs, const CertSpec& signer) {
    const TestKey& key = TestKey::get(KeyKind::P256);
    certs.push_back(make_cert(root_spec, key, nullptr, key));
    for (const CertSpec& spec : intermediate_specs) certs.push_back(make_cert(spec, key, &certs.back(), key));
    certs.push_back(make_cert(signer, key, &certs.back(), key));
    for (const TestCert& cert : certs) decoded.push_back(cert_of(cert));
  }

  // Token order: the signer, then intermediates from the signer upwards.
  std::vector<Cert> token() const {
    std::vector<Cert> out;
    for (size_t i = decoded.size(); i-- > 1;) out.push_back(cert_of(certs[i]));
    return out;
  }

  // The path's length, or its problem.
  Expected<size_t, Problem> path(uint64_t gen_time = kGenTime) const {
    const std::vector<Cert> carried = token();
    auto result = build_path(carried.front(), carried, decoded.front(), gen_time);
    if (!result) return result.error();
    return result->size();
  }
};

std::optional<Problem> path_problem(const Chain& chain, uint64_t gen_time = kGenTime) {
  auto result = chain.path(gen_time);
  if (!result) return result.error();
  return std::nullopt;
}

std::vector<CertSpec> intermediates(size_t count) {
  std::vector<CertSpec> specs;
  for (size_t i = 0; i < count; ++i) specs.push_back(ca_spec("Level " + std::to_string(i + 1)));
  return specs;
}

TEST(BuildPath, ValidityIsJudgedAtGenTimeWithBothEndsInclusive) {
  CertSpec signer = signer_spec();
  signer.not_after = kGenTime;
  EXPECT_EQ(path_problem(Chain(ca_spec("Root"), {}, signer)), std::nullopt);
  signer.not_after = kGenTime - 1;
  EXPECT_EQ(path_problem(Chain(ca_spec("Root"), {}, signer)),
            problem("TIMESTAMP_CHAIN_INVALID", "certificate '" + kSignerName + "' was not valid at the stamp time"));
  signer = signer_spec();
  signer.not_before = kGenTime;
  EXPECT_EQ(path_problem(Chain(ca_spec("Root"), {}, signer)), std::nullopt);
  EXPECT_EQ(path_problem(Chain(ca_spec("Root"), {}, signer), kGenTime - 1),
            problem("TIMESTAMP_CHAIN_INVALID", "certificate '" + kSignerName + "' was not valid at the stamp time"));

  CertSpec root = ca_spec("Root");
  root.not_after = kGenTime - 1;
  EXPECT_EQ(path_problem(Chain(root, {}, signer_spec())),
            problem("TIMESTAMP_CHAIN_INVALID", "the pinned root was not valid at the stamp time"));
  std::vector<CertSpec> middle = intermediates(1);
  middle[0].not_before = kGenTime + 1;
  EXPECT_EQ(path_problem(Chain(ca_spec("Root"), middle, signer_spec())),
            problem("TIMESTAMP_CHAIN_INVALID", "certificate 'CN=Level 1,O=Orvelant Test' was not valid at the stamp time"));
}

TEST(BuildPath, PathLengthConstraintsAndDepth) {
  EXPECT_EQ(path_problem(Chain(ca_spec("Root", 0), {}, signer_spec())), std::nullopt);
  EXPECT_EQ(path_problem(Chain(ca_spec("Root"), {ca_spec("Level 1", 0)}, signer_spec())), std::nullopt);
  EXPECT_EQ(path_problem(Chain(ca_spec("Root", 0), intermediates(1), signer_spec())),
            problem("TIMESTAMP_CHAIN_INVALID", "certificate path is longer than a CA allows"));
  EXPECT_EQ(path_problem(Chain(ca_spec("Root", 1), intermediates(1), signer_spec())), std::nullopt);

  auto four = Chain(ca_spec("Root"), intermediates(4), signer_spec()).path();
  ASSERT_TRUE(four.ok());
  EXPECT_EQ((*four), 5u);
  EXPECT_EQ(path_problem(Chain(ca_spec("Root"), intermediates(5), signer_spec())),
            problem("TIMESTAMP_CHAIN_INVALID", "certificate chain is too long"));
}

TEST(BuildPath, IssuerRules) {
  const auto with_middle = [](const std::function<void(CertSpec&)>& edit) {
    std::vector<CertSpec> middle = intermediates(1);
    edit(middle[0]);
    return path_problem(Chain(ca_spec("Root"), middle, signer_spec()));
  };
  EXPECT_EQ(with_middle([](CertSpec& s) { s.key_usage.reset(); }), std::nullopt);
  EXPECT_EQ(with_middle([](CertSpec& s) {
              s.key_usage = std::vector<int>{0, 6};
            }),
            problem("TIMESTAMP_CHAIN_INVALID", "issuer certificate may not sign certificates"));
  EXPECT_EQ(with_middle([](CertSpec& s) { s.ca.reset(); }), problem("TIMESTAMP_CHAIN_INVALID", "issuer certificate is not a CA"));
  EXPECT_EQ(with_middle([](CertSpec& s) { s.ca = false; }), problem("TIMESTAMP_CHAIN_INVALID", "issuer certificate is not a CA"));
  EXPECT_EQ(with_middle([](CertSpec& s) {
              s.ca.reset();
              s.extra.push_back({"2.5.29.19", true, der::boolean(true)});
            }),
            problem("TIMESTAMP_PARSE", "basic constraints do not parse"));
  EXPECT_EQ(with_middle([](CertSpec& s) {
              s.key_usage.reset();
              s.extra.push_back({"2.5.29.15", true, der::integer(4)});
            }),
            problem("TIMESTAMP_PARSE", "key usage does not parse"));
  EXPECT_EQ(with_middle([](CertSpec& s) {
              s.extra.push_back({"1.2.3.4", true, der::null()});
            }),
            problem("TIMESTAMP_CHAIN_INVALID",
                    "certificate 'CN=Level 1,O=Orvelant Test' has a critical extension this verifier does not process"));
  // The pinned root is held to the same rules.
  CertSpec root = ca_spec("Root");
  root.key_usage = std::vector<int>{6};
  EXPECT_EQ(path_problem(Chain(root, {}, signer_spec())),
            problem("TIMESTAMP_CHAIN_INVALID", "issuer certificate may not sign certificates"));
}

TEST(BuildPath, CandidatesAreTriedInTokenOrder) {
  const TestKey& root_key = TestKey::get(KeyKind::P256, 0);
  const TestKey& real_key = TestKey::get(KeyKind::P256, 1);
  const TestKey& other_key = TestKey::get(KeyKind::P256, 2);
  const TestCert root = make_cert(ca_spec("Root"), root_key, nullptr, root_key);
  // Two intermediates with one name; only the real one holds the key that signed the signer.
  const TestCert real = make_cert(ca_spec("Middle"), real_key, &root, root_key);
  CertSpec impostor_spec = ca_spec("Middle");
  impostor_spec.serial = 99;
  const TestCert impostor = make_cert(impostor_spec, other_key, &root, root_key);
  const TestCert signer = make_cert(signer_spec(), real_key, &real, real_key);

  const Cert pinned = cert_of(root);
  const std::vector<Cert> carried = certs_of({signer.der, impostor.der, real.der});
  auto path = build_path(carried[0], carried, pinned, kGenTime);
  ASSERT_TRUE(path.ok());
  ASSERT_EQ(path->size(), 2u);
  EXPECT_EQ(path->at(1), &carried[2]);
  EXPECT_EQ(error_of(check_all_on_path(carried, *path)),
            problem("TIMESTAMP_CHAIN_INVALID", "token carries a certificate that is not on the verified path"));
  const std::vector<Cert> only_real = certs_of({signer.der, real.der});
  auto complete = build_path(only_real[0], only_real, pinned, kGenTime);
  ASSERT_TRUE(complete.ok());
  EXPECT_EQ(error_of(check_all_on_path(only_real, *complete)), std::nullopt);

  // The root among the carried certificates is not on the path: the root is not a member.
  const std::vector<Cert> with_root = certs_of({signer.der, real.der, root.der});
  auto rooted = build_path(with_root[0], with_root, pinned, kGenTime);
  ASSERT_TRUE(rooted.ok());
  EXPECT_EQ(error_of(check_all_on_path(with_root, *rooted)),
            problem("TIMESTAMP_CHAIN_INVALID", "token carries a certificate that is not on the verified path"));
}

TEST(BuildPath, WhatIsNeverTakenAsAnIssuer) {
  const TestKey& key = TestKey::get(KeyKind::P256);
  const TestCert root = make_cert(ca_spec("Root"), key, nullptr, key);
  const Cert pinned = cert_of(root);
  const Problem no_chain = problem("TIMESTAMP_CHAIN_INVALID", "the signer does not chain to the pinned TSA root");

  // A self-issued signer names itself as issuer; its own copy in the token is never taken.
  CertSpec self = signer_spec();
  self.ca = true;
  self.key_usage = std::vector<int>{0, 5};
  const TestCert self_signed = make_cert(self, key, nullptr, key);
  const std::vector<Cert> alone = certs_of({self_signed.der, self_signed.der});
  EXPECT_EQ(build_path(alone[0], alone, pinned, kGenTime).error(), no_chain);

  // rsaEncryption as a certificate's signatureAlgorithm names no hash.
  const TestKey& rsa = TestKey::get(KeyKind::Rsa2048);
  const TestCert rsa_root = make_cert(ca_spec("RSA Root"), rsa, nullptr, rsa);
  der::Node signer = der::parse(make_cert(signer_spec(), key, &rsa_root, rsa).der);
  signer.at({1}) = der::parse(der::algorithm("1.2.840.113549.1.1.1", der::null()));
  const std::vector<Cert> rsa_token = certs_of({der::write(signer)});
  EXPECT_EQ(build_path(rsa_token[0], rsa_token, cert_of(rsa_root), kGenTime).error(), no_chain);

  // A root whose key breaks the key rules issues nothing.
  const TestKey& short_rsa = TestKey::get(KeyKind::Rsa2047);
  const TestCert weak_root = make_cert(ca_spec("Weak Root"), short_rsa, nullptr, short_rsa);
  const std::vector<Cert> weak_token = certs_of({make_cert(signer_spec(), key, &weak_root, short_rsa).der});
  EXPECT_EQ(build_path(weak_token[0], weak_token, cert_of(weak_root), kGenTime).error(), no_chain);
}

// Every certificate signature a path may hold verifies under its issuer's key, and only there:
// RSA PKCS #1 v1.5 and ECDSA, each with SHA-256, SHA-384 and SHA-512.
TEST(IssuedBy, EachSignatureHashOfBothKeyKinds) {
  for (const KeyKind kind : {KeyKind::Rsa2048, KeyKind::P384}) {
    const TestKey& key = TestKey::get(kind);
    const TestKey& other_key = TestKey::get(kind, 1);
    const TestCert root = make_cert(ca_spec("Root"), key, nullptr, key);
    const Cert issuer = cert_of(root);
    const Cert same_name_other_key = cert_of(make_cert(ca_spec("Root"), other_key, nullptr, other_key));
    for (const char* digest : {"SHA256", "SHA384", "SHA512"}) {
      CertSpec spec = signer_spec();
      spec.digest = digest;
      const Cert child = cert_of(make_cert(spec, key, &root, key));
      const std::string label = std::to_string(static_cast<int>(kind)) + " " + digest;
      EXPECT_TRUE(issued_by(issuer.x509.get(), child.x509.get())) << label;
      EXPECT_FALSE(issued_by(same_name_other_key.x509.get(), child.x509.get())) << label;
    }
  }
}

// Names are compared as written: the issuer of each path link, the ESS issuer and the token's TSA
// name must be the certificate's own name, never one that a looser comparison would also match.
TEST(SameName, EveryTypeGroupingAndValueMustAgree) {
  struct Attribute {
    const char* field;
    const char* value;
    int string_type = V_ASN1_UTF8STRING;
    int set = 0;  // 0: a new RDN; -1: joins the RDN before it
  };
  const auto name = [](std::initializer_list<Attribute> attributes) {
    crypto::X509NamePtr out(X509_NAME_new());
    for (const Attribute& a : attributes) {
      EXPECT_EQ(X509_NAME_add_entry_by_txt(out.get(), a.field, a.string_type, reinterpret_cast<const unsigned char*>(a.value), -1,
                                           -1, a.set),
                1);
    }
    return out;
  };
  const crypto::X509NamePtr reference = name({{"CN", "Test TSA"}, {"O", "Orvelant Test"}});
  EXPECT_TRUE(crypto::same_name(reference.get(), name({{"CN", "Test TSA"}, {"O", "Orvelant Test"}}).get()));

  const std::pair<const char*, crypto::X509NamePtr> others[] = {
      {"one RDN holding both", name({{"CN", "Test TSA"}, {"O", "Orvelant Test", V_ASN1_UTF8STRING, -1}})},
      {"another attribute type", name({{"CN", "Test TSA"}, {"OU", "Orvelant Test"}})},
      {"another string type", name({{"CN", "Test TSA", V_ASN1_PRINTABLESTRING}, {"O", "Orvelant Test"}})},
      {"another case", name({{"CN", "test tsa"}, {"O", "Orvelant Test"}})},
      {"a longer value", name({{"CN", "Test TSA "}, {"O", "Orvelant Test"}})},
      {"another order", name({{"O", "Orvelant Test"}, {"CN", "Test TSA"}})},
      {"one attribute fewer", name({{"CN", "Test TSA"}})},
  };
  for (const auto& [label, other] : others) {
    EXPECT_FALSE(crypto::same_name(reference.get(), other.get())) << label;
    EXPECT_FALSE(crypto::same_name(other.get(), reference.get())) << label;
  }
}

}  // namespace
}  // namespace orv::tsa
