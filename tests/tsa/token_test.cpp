#include "tsa/token.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <stdexcept>

#include "core/hex.h"
#include "crypto/digest.h"
#include "support/printers.h"
#include "support/tsa_der.h"
#include "support/tsa_pki.h"

namespace orv::tsa {
namespace {

namespace der = orv::test::der;
using namespace orv::test::tsa;

const std::string kSubject = "the exact bytes of the stamped file\n";

const Hierarchy& rsa() {
  static const Hierarchy h = make_hierarchy(KeyKind::Rsa2048, KeyKind::Rsa2048, 1);
  return h;
}

const Hierarchy& ec() {
  static const Hierarchy h = make_hierarchy(KeyKind::P384, KeyKind::P256);
  return h;
}

Expected<Stamp, Problem> verify(const std::string& token, const Hierarchy& h, uint64_t now = kNow,
                                const std::string& subject = kSubject) {
  return verify_timestamp_token(as_bytes(token), as_bytes(subject), h.authority(), now);
}

// "VALID", or the problem as "CODE: message".
std::string outcome(const std::string& token, const Hierarchy& h, uint64_t now = kNow, const std::string& subject = kSubject) {
  auto result = verify(token, h, now, subject);
  if (!result) return std::string(result.error().code.text()) + ": " + result.error().message;
  return "VALID";
}

std::string outcome(const TokenBuilder& b, uint64_t now = kNow) { return outcome(b.build(), *b.hierarchy, now); }

Stamp stamp_of(const TokenBuilder& b) {
  auto result = verify(b.build(), *b.hierarchy);
  if (!result) {
    ADD_FAILURE() << result.error().code << ": " << result.error().message;
    return {};
  }
  return *result;
}

std::string accuracy(std::optional<int64_t> seconds, std::optional<int64_t> millis, std::optional<int64_t> micros) {
  std::vector<std::string> members;
  if (seconds) members.push_back(der::integer(*seconds));
  if (millis) members.push_back(der::tlv(0x80, der::integer(*millis).substr(2)));
  if (micros) members.push_back(der::tlv(0x81, der::integer(*micros).substr(2)));
  return der::seq(members);
}

std::string extension(std::string_view oid, bool critical, std::string_view value) {
  return der::seq({der::oid(oid), critical ? der::boolean(true) : "", der::octets(value)});
}

std::string subject_name(const TestCert& cert) {
  const auto* cursor = reinterpret_cast<const unsigned char*>(cert.der.data());
  X509* x509 = d2i_X509(nullptr, &cursor, static_cast<long>(cert.der.size()));
  unsigned char* out = nullptr;
  const int len = i2d_X509_NAME(X509_get_subject_name(x509), &out);
  std::string name(reinterpret_cast<char*>(out), static_cast<size_t>(len));
  OPENSSL_free(out);
  X509_free(x509);
  return name;
}

// The token as a tree: ContentInfo, its [0], the SignedData.
struct Tree {
  der::Node root;
  explicit Tree(const std::string& token) : root(der::parse(token)) {}
  der::Node& signed_data() { return root.at({1, 0}); }
  std::string write() const { return der::write(root); }
};

constexpr const char* kNotCanonical = "TIMESTAMP_PARSE: token is not in canonical DER form";

TEST(TokenValid, RsaAndEcdsaWithEveryImprintHash) {
  for (const Hierarchy* h : {&rsa(), &ec()}) {
    for (const Hash hash : {Hash::Sha256, Hash::Sha384, Hash::Sha512}) {
      TokenBuilder b(*h, kSubject);
      b.imprint_hash = hash;
      b.signer_hash = hash;
      const Stamp stamp = stamp_of(b);
      EXPECT_EQ(stamp.imprint_alg, hash == Hash::Sha256 ? "SHA-256" : hash == Hash::Sha384 ? "SHA-384" : "SHA-512");
      EXPECT_EQ(stamp.tsa, "Test");
      EXPECT_EQ(stamp.gen_time, "2025-06-01T12:00:00Z");
      EXPECT_EQ(stamp.gen_time_unix, static_cast<uint64_t>(kGenTime));
      EXPECT_EQ(stamp.accuracy_ms, std::nullopt);
      EXPECT_EQ(stamp.no_later_than_unix, stamp.gen_time_unix);
      EXPECT_EQ(stamp.no_later_than, stamp.gen_time);
      EXPECT_EQ(stamp.serial_hex, "5eed");
      EXPECT_EQ(stamp.policy, kTestPolicy);
      EXPECT_EQ(stamp.signer, "CN=Test TSA Signer,O=Orvelant Test");
      EXPECT_EQ(stamp.nonce_hex, std::nullopt);
    }
  }
}

TEST(TokenValid, AccuracyNonceTsaNameAndExtensions) {
  TokenBuilder b(ec(), kSubject);
  b.accuracy = accuracy(2, std::nullopt, 1);
  b.nonce = der::integer(0x0102030405);
  b.tsa = der::context(0, der::context(4, subject_name(ec().signer)));
  b.extensions = der::context(1, extension("1.2.3.4", false, der::null()));
  Stamp stamp = stamp_of(b);
  EXPECT_EQ(stamp.accuracy_ms, 2001u);
  EXPECT_EQ(stamp.no_later_than_unix, static_cast<uint64_t>(kGenTime) + 3);
  EXPECT_EQ(stamp.no_later_than, "2025-06-01T12:00:03Z");
  EXPECT_EQ(stamp.nonce_hex, "0102030405");

  b.accuracy = accuracy(std::nullopt, 999, std::nullopt);
  stamp = stamp_of(b);
  EXPECT_EQ(stamp.accuracy_ms, 999u);
  EXPECT_EQ(stamp.no_later_than_unix, static_cast<uint64_t>(kGenTime) + 1);
  b.accuracy = accuracy(std::nullopt, std::nullopt, std::nullopt);  // present and empty
  stamp = stamp_of(b);
  EXPECT_EQ(stamp.accuracy_ms, 0u);
  EXPECT_EQ(stamp.no_later_than_unix, static_cast<uint64_t>(kGenTime));

  // A nonce that needs a sign octet keeps it.
  b.nonce = der::integer_octets(der::bytes({0x00, 0x82, 0xFF}));
  EXPECT_EQ(stamp_of(b).nonce_hex, "0082ff");
}

TEST(TokenValid, SerialShownWithoutOneLeadingZeroOctet) {
  TokenBuilder b(rsa(), kSubject);
  b.serial = der::integer_octets(der::bytes({0x00, 0xFF}));
  EXPECT_EQ(stamp_of(b).serial_hex, "ff");
  b.serial = der::integer_octets(der::bytes({0x00}));
  EXPECT_EQ(stamp_of(b).serial_hex, "00");
  b.serial = der::integer_octets(der::bytes({0x00, 0x80, 0x01}));
  EXPECT_EQ(stamp_of(b).serial_hex, "8001");
  // A padded serial is not DER; the TSTInfo decoder refuses it.
  b.serial = der::integer_octets(der::bytes({0x00, 0x7F}));
  EXPECT_EQ(outcome(b).rfind("TIMESTAMP_PARSE: TSTInfo does not parse: ", 0), 0u) << outcome(b);
}

TEST(TokenValid, IssuedByOpenSslTimestampResponder) {
  // OpenSSL writes the certificates in the order it was given them, which need not be DER's, so
  // these hierarchies put only the signer in the token.
  const Hierarchy rsa_direct = make_hierarchy(KeyKind::Rsa2048, KeyKind::Rsa2048);
  for (const Hierarchy* h : {&rsa_direct, &ec()}) {
    EXPECT_EQ(outcome(openssl_ts_token(*h, kSubject), *h), "VALID");
    const std::string token = openssl_ts_token(*h, kSubject, Hash::Sha512, true, true);
    auto result = verify(token, *h);
    ASSERT_TRUE(result.ok()) << outcome(token, *h);
    const Stamp& stamp = (*result);
    EXPECT_EQ(stamp.imprint_alg, "SHA-512");
    EXPECT_EQ(stamp.accuracy_ms, 1500u);
    EXPECT_EQ(stamp.no_later_than_unix, static_cast<uint64_t>(kGenTime) + 2);
    EXPECT_EQ(stamp.nonce_hex, "00c0ffee12345678");
  }
}

TEST(TokenInput, SizeLimitIsExactly64KiB) {
  // A non-critical TSTInfo extension pads a good token to the size wanted.
  // Lengths grow by whole octets, so some sizes need the nonce's length as a second knob.
  const auto padded = [](size_t target) {
    TokenBuilder b(ec(), kSubject);
    const size_t start = target - b.build().size() - 16;
    for (const int64_t nonce : {0, 1, 0x100}) {
      b.nonce = nonce ? der::integer(nonce) : "";
      for (size_t pad = start - 32; pad < start + 32; ++pad) {
        b.extensions = der::context(1, extension("1.2.3.4", false, der::octets(std::string(pad, 'p'))));
        // ECDSA signatures vary in length, so the token measured is the token returned; a size
        // can step over the target, so each padding is signed a few times before the next.
        for (int attempt = 0; attempt < 4; ++attempt) {
          std::string token = b.build();
          if (token.size() == target) return token;
        }
      }
    }
    return std::string();
  };
  const std::string at_limit = padded(65536);
  ASSERT_EQ(at_limit.size(), 65536u);
  EXPECT_EQ(outcome(at_limit, ec()), "VALID");
  const std::string over = padded(65537);
  ASSERT_EQ(over.size(), 65537u);
  EXPECT_EQ(outcome(over, ec()), "TIMESTAMP_PARSE: timestamp token is larger than 64 KiB");
  EXPECT_EQ(outcome(std::string(65537, '\0'), ec()), "TIMESTAMP_PARSE: timestamp token is larger than 64 KiB");
}

TEST(TokenInput, CompiledInRootIsCheckedFirst) {
  const std::string token = TokenBuilder(ec(), kSubject).build();
  PinnedAuthority authority = ec().authority();
  authority.root_fingerprint[0] = authority.root_fingerprint[0] == '0' ? '1' : '0';
  auto result = verify_timestamp_token(as_bytes(token), as_bytes(kSubject), authority, kNow);
  EXPECT_EQ(result.error().message, "the compiled-in TSA root does not match its fingerprint");
  EXPECT_EQ(result.error().code, "TIMESTAMP_CHAIN_INVALID");
  authority.root_der = {0x30, 0x03, 0x02, 0x01, 0x01};
  authority.root_fingerprint = crypto::sha256_hex(authority.root_der);
  result = verify_timestamp_token(as_bytes(token), as_bytes(kSubject), authority, kNow);
  EXPECT_EQ(result.error().code, "TIMESTAMP_CHAIN_INVALID");
  EXPECT_EQ(result.error().message.rfind("compiled-in TSA root does not parse: ", 0), 0u) << result.error().message;
}

TEST(TokenStructure, EachDecodingStageReportsItself) {
  EXPECT_EQ(outcome(der::bytes({0x30, 0x80, 0x00, 0x00}), ec()),
            "TIMESTAMP_PARSE: token structure: indefinite or oversized DER length");
  EXPECT_EQ(outcome("", ec()).rfind("TIMESTAMP_PARSE: token is not DER CMS: ", 0), 0u);
  const std::string good = TokenBuilder(ec(), kSubject).build();
  EXPECT_EQ(outcome(good + der::null(), ec()), "TIMESTAMP_PARSE: token is not DER CMS: trailing data after the ContentInfo");
  EXPECT_EQ(outcome(der::integer(5), ec()).rfind("TIMESTAMP_PARSE: token is not DER CMS: ", 0), 0u);

  TokenBuilder b(ec(), kSubject);
  b.content_type = der::oid("1.2.840.113549.1.7.1");
  EXPECT_EQ(outcome(b), "TIMESTAMP_PARSE: token is not CMS SignedData");

  // A broken SignedData inside a sound ContentInfo is reported as the SignedData's failure.
  for (const std::string& content : {der::seq({der::integer(3)}), der::integer(3), der::octets("x")}) {
    const std::string token = der::seq({der::oid("1.2.840.113549.1.7.2"), der::context(0, content)});
    EXPECT_EQ(outcome(token, ec()).rfind("TIMESTAMP_PARSE: SignedData does not parse: ", 0), 0u) << outcome(token, ec());
  }
  // So is a certificate the X.509 decoder refuses.
  b = TokenBuilder(ec(), kSubject);
  b.certificates = std::vector<std::string>{ec().signer.der, der::seq({der::seq({}), der::seq({}), der::seq({})})};
  EXPECT_EQ(outcome(b).rfind("TIMESTAMP_PARSE: SignedData does not parse: ", 0), 0u) << outcome(b);
}

TEST(TokenCanonical, EveryNonMinimalLengthIsRefused) {
  TokenBuilder b(rsa(), kSubject);
  b.accuracy = accuracy(1, std::nullopt, std::nullopt);
  b.nonce = der::integer(7);
  const Tree good(b.build());
  ASSERT_EQ(outcome(good.write(), rsa()), "VALID");
  size_t canonical = 0;
  const auto paths = der::all_paths(good.root);
  for (const auto& path : paths) {
    Tree mutated = good;
    der::Node& node = der::at(mutated.root, path);
    const std::string before = der::write(node);
    if (before.size() - 2 < 0x80 && static_cast<uint8_t>(before[1]) < 0x80) {
      node.long_form = true;
    } else {
      node.extra_length_octets = 1;
    }
    const std::string result = outcome(mutated.write(), rsa());
    // Either the decoder refuses the form or the canonical rule does; nothing gets further.
    const bool refused = result == kNotCanonical || result.rfind("TIMESTAMP_PARSE: token is not DER CMS: ", 0) == 0 ||
                         result.rfind("TIMESTAMP_PARSE: SignedData does not parse: ", 0) == 0;
    EXPECT_TRUE(refused) << "element " << ::testing::PrintToString(path) << ": " << result;
    // The ContentInfo and its [0] wrapper are held to DER like the SignedData they carry.
    if (path.size() <= 1) {
      EXPECT_EQ(result, kNotCanonical) << ::testing::PrintToString(path);
    }
    if (result == kNotCanonical) ++canonical;
  }
  EXPECT_GT(paths.size(), 100u);
  EXPECT_GT(canonical, paths.size() / 2);
}

TEST(TokenCanonical, SetOfMembersOutOfOrder) {
  // The certificates: of the two orders of signer and intermediate, only DER's passes.
  const std::vector<std::string> certs = rsa().token_certs();
  for (const bool reversed : {false, true}) {
    TokenBuilder b(rsa(), kSubject);
    b.certificates = reversed ? std::vector<std::string>{certs[1], certs[0]} : certs;
    b.sort_certificates = false;
    const bool der_order = *b.certificates == der::sorted(*b.certificates);
    EXPECT_EQ(outcome(b), der_order ? "VALID" : kNotCanonical);
  }

  // The signed attributes, signed in the order written: the signature would verify over the
  // written order, yet the token is refused before that.
  TokenBuilder attrs(ec(), kSubject);
  attrs.sort_signed_attributes = false;
  attrs.edit_signed_attributes = [](std::vector<std::string>& list) {
    list = der::sorted(list);
    std::reverse(list.begin(), list.end());
  };
  EXPECT_EQ(outcome(attrs), kNotCanonical);

  // digestAlgorithms, and the values of one attribute.
  TokenBuilder digests(ec(), kSubject);
  const std::vector<std::string> two =
      der::sorted({der::algorithm(hash_oid(Hash::Sha256), der::null()), der::algorithm(hash_oid(Hash::Sha512), der::null())});
  Tree tree(digests.build());
  tree.signed_data().at({1}) = der::parse(der::set({two[1], two[0]}));
  EXPECT_EQ(outcome(tree.write(), ec()), kNotCanonical);
  tree.signed_data().at({1}) = der::parse(der::set(two));
  EXPECT_EQ(outcome(tree.write(), ec()), "TIMESTAMP_PARSE: SignedData digest algorithms do not match the signer");

  TokenBuilder values(ec(), kSubject);
  values.edit_signed_attributes = [&](std::vector<std::string>& list) {
    const std::vector<std::string> oids = der::sorted({der::oid("1.2.840.113549.1.9.16.1.4"), der::oid("1.2.3")});
    list[0] = der::seq({der::oid("1.2.840.113549.1.9.3"), der::set({oids[1], oids[0]})});
  };
  EXPECT_EQ(outcome(values), kNotCanonical);

  // The members of a multi-valued RDN inside a carried certificate, which OpenSSL's own
  // certificate type would write back exactly as it read them.
  Tree rdn(TokenBuilder(ec(), kSubject).build());
  der::Node& subject = rdn.signed_data().at({3, 0, 0, 5});
  ASSERT_EQ(subject.children.size(), 2u);
  std::vector<std::string> atvs{der::write(subject.children[0].children[0]), der::write(subject.children[1].children[0])};
  const std::vector<std::string> ordered = der::sorted(atvs);
  subject.children = {der::parse(der::set({ordered[1], ordered[0]}))};
  EXPECT_EQ(outcome(rdn.write(), ec()), kNotCanonical);
}

TEST(TokenCanonical, DefaultsAndBooleansWrittenOut) {
  // In the signer certificate: keyUsage's critical flag written as FALSE (the default), as 01
  // instead of FF, and the version written as v1 (the default).
  const auto edited_signer = [](const std::function<void(der::Node&)>& edit) {
    Tree tree(TokenBuilder(ec(), kSubject).build());
    edit(tree.signed_data().at({3, 0, 0}));  // the only certificate's tbsCertificate
    return outcome(tree.write(), ec());
  };
  const auto key_usage_flag = [](der::Node& tbs) -> der::Node& {
    der::Node& extensions = tbs.children.back().children[0];
    for (der::Node& ext : extensions.children) {
      if (der::write(ext.children[0]) == der::oid("2.5.29.15")) return ext.children[1];
    }
    throw std::runtime_error("no keyUsage");
  };
  EXPECT_EQ(edited_signer([&](der::Node& tbs) { key_usage_flag(tbs).contents = der::bytes({0x00}); }), kNotCanonical);
  EXPECT_EQ(edited_signer([&](der::Node& tbs) { key_usage_flag(tbs).contents = der::bytes({0x01}); }), kNotCanonical);
  EXPECT_EQ(edited_signer([](der::Node& tbs) { tbs.children[0].children[0].contents = der::bytes({0x00}); }), kNotCanonical);

  // eContent as a constructed (BER) OCTET STRING decodes, but encodes back as a primitive one.
  TokenBuilder b(ec(), kSubject);
  const std::string tst = b.tst_der();
  b.econtent = der::context(0, der::tlv(0x24, der::octets(tst.substr(0, 10)) + der::octets(tst.substr(10))));
  EXPECT_EQ(outcome(b), kNotCanonical);
}

TEST(TokenCanonical, EmptyCertificateSetSurvivesReencoding) {
  TokenBuilder b(ec(), kSubject);
  b.certificates = std::vector<std::string>{};
  const std::string token = b.build();
  ASSERT_NE(token.find(der::bytes({0xA0, 0x00})), std::string::npos);
  EXPECT_EQ(outcome(token, ec()), "TIMESTAMP_CHAIN_INVALID: the signer certificate is not in the token");
  b.certificates_present = false;
  EXPECT_EQ(outcome(b), "TIMESTAMP_CHAIN_INVALID: the signer certificate is not in the token");
}

TEST(TokenContent, SignedDataAndTstInfoChecks) {
  const auto with = [](const std::function<void(TokenBuilder&)>& edit) {
    TokenBuilder b(ec(), kSubject);
    edit(b);
    return outcome(b);
  };
  EXPECT_EQ(with([](TokenBuilder& b) { b.sd_version = der::integer(1); }), "TIMESTAMP_PARSE: SignedData version is not 3");
  EXPECT_EQ(with([](TokenBuilder& b) { b.econtent_type = der::oid("1.2.840.113549.1.7.1"); }),
            "TIMESTAMP_PARSE: token content is not a TSTInfo");
  EXPECT_EQ(with([](TokenBuilder& b) { b.econtent = ""; }), "TIMESTAMP_PARSE: token carries no TSTInfo");
  EXPECT_EQ(with([](TokenBuilder& b) {
              b.econtent = der::context(0, der::integer(5));
            }).rfind("TIMESTAMP_PARSE: TSTInfo is not an OCTET STRING: ", 0),
            0u);
  EXPECT_EQ(with([](TokenBuilder& b) {
              b.tst_info = der::seq({der::integer(1)});
            }).rfind("TIMESTAMP_PARSE: TSTInfo does not parse: ", 0),
            0u);
  EXPECT_EQ(with([](TokenBuilder& b) { b.tst_info = b.tst_der() + der::null(); }),
            "TIMESTAMP_PARSE: TSTInfo does not parse: trailing data after the TSTInfo");
  EXPECT_EQ(with([](TokenBuilder& b) { b.tst_version = der::integer(2); }), "TIMESTAMP_UNSUPPORTED: TSTInfo version is not 1");
  EXPECT_EQ(with([](TokenBuilder& b) { b.policy = der::oid("2.16.840.1.114412.7.1"); }),
            "TIMESTAMP_POLICY: TSA policy 2.16.840.1.114412.7.1 is not the pinned Test policy");
  EXPECT_EQ(with([](TokenBuilder& b) { b.extensions = der::context(1, extension("1.2.3.4", true, der::null())); }),
            "TIMESTAMP_UNSUPPORTED: TSTInfo has a critical extension");
}

TEST(TokenContent, AccuracyBounds) {
  const auto with = [](std::optional<int64_t> s, std::optional<int64_t> ms, std::optional<int64_t> us) {
    TokenBuilder b(ec(), kSubject);
    b.accuracy = accuracy(s, ms, us);
    return outcome(b);
  };
  const std::string out_of_range = "TIMESTAMP_PARSE: TSTInfo accuracy is out of range";
  EXPECT_EQ(with(std::nullopt, 0, std::nullopt), out_of_range);
  EXPECT_EQ(with(std::nullopt, 1000, std::nullopt), out_of_range);
  EXPECT_EQ(with(std::nullopt, std::nullopt, 0), out_of_range);
  EXPECT_EQ(with(std::nullopt, std::nullopt, 1000), out_of_range);
  EXPECT_EQ(with(std::nullopt, 1, 999), "VALID");
  EXPECT_EQ(with(4294967295, 999, 999), "VALID");  // seconds are not bounded beyond their width
  EXPECT_EQ(with(4294967296, std::nullopt, std::nullopt).rfind("TIMESTAMP_PARSE: TSTInfo does not parse: ", 0), 0u);
  EXPECT_EQ(with(-1, std::nullopt, std::nullopt).rfind("TIMESTAMP_PARSE: TSTInfo does not parse: ", 0), 0u);
  EXPECT_EQ(with(std::nullopt, 65536, std::nullopt).rfind("TIMESTAMP_PARSE: TSTInfo does not parse: ", 0), 0u);
  // Values that would wrap into range if narrowed to 16 bits unchecked (65537 -> 1, 66036 -> 500).
  EXPECT_EQ(with(std::nullopt, 65537, std::nullopt),
            "TIMESTAMP_PARSE: TSTInfo does not parse: accuracy millis do not fit 16 unsigned bits");
  EXPECT_EQ(with(std::nullopt, std::nullopt, 66036),
            "TIMESTAMP_PARSE: TSTInfo does not parse: accuracy micros do not fit 16 unsigned bits");
}

TEST(TokenContent, ImprintChecksComeBeforeTheSignature) {
  const auto with = [](const std::function<void(TokenBuilder&)>& edit) {
    TokenBuilder b(ec(), kSubject);
    edit(b);
    return outcome(b);
  };
  EXPECT_EQ(with([](TokenBuilder& b) { b.imprint_hash = Hash::Sha1; }),
            "TIMESTAMP_UNSUPPORTED: imprint hash is not SHA-256/384/512");
  EXPECT_EQ(with([](TokenBuilder& b) { b.imprint_parameters = der::integer(0); }),
            "TIMESTAMP_PARSE: imprint hash algorithm has unexpected parameters");
  EXPECT_EQ(with([](TokenBuilder& b) { b.imprint_parameters = ""; }), "VALID");
  const std::string mismatch = "TIMESTAMP_IMPRINT_MISMATCH: the timestamp is for a different file (hash mismatch)";
  EXPECT_EQ(with([](TokenBuilder& b) { b.imprint_value = std::string(32, 'x'); }), mismatch);
  EXPECT_EQ(with([](TokenBuilder& b) { b.imprint_value = hash_of(Hash::Sha256, kSubject).substr(1); }), mismatch);
  // Another file's token that is also badly signed is reported as another file's.
  EXPECT_EQ(with([](TokenBuilder& b) {
              b.subject = "another file";
              b.signature = std::string(64, '\x01');
            }),
            mismatch);
}

TEST(TokenShape, SignerInfoAndAlgorithms) {
  const auto with = [](const std::function<void(TokenBuilder&)>& edit, const Hierarchy& h = ec()) {
    TokenBuilder b(h, kSubject);
    edit(b);
    return outcome(b);
  };
  EXPECT_EQ(with([](TokenBuilder& b) { b.extra_signer_infos.push_back(b.signer_info()); }),
            "TIMESTAMP_PARSE: token must have exactly one signer");
  EXPECT_EQ(with([](TokenBuilder& b) {
              b.unsigned_attributes = der::bytes({0xA1, 0x00});
            }),
            "TIMESTAMP_PARSE: token carries unsigned attributes");
  EXPECT_EQ(with([](TokenBuilder& b) { b.crls = der::bytes({0xA1, 0x00}); }), "TIMESTAMP_PARSE: token carries revocation lists");
  EXPECT_EQ(with([](TokenBuilder& b) {
              b.certificates = std::vector<std::string>{ec().signer.der, der::context(2, der::null())};
            }),
            "TIMESTAMP_PARSE: token carries a non-X.509 certificate");
  EXPECT_EQ(with([](TokenBuilder& b) { b.si_version = der::integer(3); }), "TIMESTAMP_PARSE: SignerInfo version is not 1");

  const std::string digests_differ = "TIMESTAMP_PARSE: SignedData digest algorithms do not match the signer";
  EXPECT_EQ(with([](TokenBuilder& b) {
              b.digest_algorithms = std::vector<std::string>{der::algorithm(hash_oid(Hash::Sha384), der::null())};
            }),
            digests_differ);
  EXPECT_EQ(with([](TokenBuilder& b) {
              b.digest_algorithms = std::vector<std::string>{der::algorithm(hash_oid(Hash::Sha256), der::null()),
                                                             der::algorithm(hash_oid(Hash::Sha512), der::null())};
            }),
            digests_differ);
  EXPECT_EQ(with([](TokenBuilder& b) {
              b.digest_algorithms = std::vector<std::string>{der::algorithm(hash_oid(Hash::Sha256), der::integer(1))};
            }),
            digests_differ);
  EXPECT_EQ(with([](TokenBuilder& b) { b.digest_algorithms = std::vector<std::string>{}; }), digests_differ);
  EXPECT_EQ(with([](TokenBuilder& b) { b.digest_algorithms = std::vector<std::string>{der::algorithm(hash_oid(Hash::Sha256))}; }),
            "VALID");  // absent on one side and NULL on the other is accepted

  EXPECT_EQ(with([](TokenBuilder& b) {
              b.digest_algorithms = std::vector<std::string>{der::algorithm(hash_oid(Hash::Sha1), der::null())};
              b.digest_algorithm = der::algorithm(hash_oid(Hash::Sha1), der::null());
            }),
            "TIMESTAMP_UNSUPPORTED: signer digest is not SHA-256/384/512");
  EXPECT_EQ(with([](TokenBuilder& b) { b.signature_algorithm = der::algorithm("2.16.840.1.101.3.4.3.2"); }),
            "TIMESTAMP_UNSUPPORTED: signature algorithm is not RSA PKCS#1 v1.5 or ECDSA");
  EXPECT_EQ(with([](TokenBuilder& b) { b.signature_algorithm = der::algorithm("1.2.840.10045.4.3.2", der::null()); }),
            "TIMESTAMP_PARSE: signature algorithm has unexpected parameters");
  EXPECT_EQ(with([](TokenBuilder& b) { b.signature_algorithm = der::algorithm("1.2.840.10045.4.3.3"); }),
            "TIMESTAMP_UNSUPPORTED: signature and digest algorithms disagree");
  EXPECT_EQ(with([](TokenBuilder& b) { b.signature_algorithm = der::algorithm("1.2.840.113549.1.1.12", der::null()); }, rsa()),
            "TIMESTAMP_UNSUPPORTED: signature and digest algorithms disagree");
  // rsaEncryption takes the signer digest, here SHA-384.
  EXPECT_EQ(with([](TokenBuilder& b) { b.signer_hash = Hash::Sha384; }, rsa()), "VALID");
  EXPECT_EQ(with(
                [](TokenBuilder& b) {
                  b.signer_hash = Hash::Sha384;
                  b.signature_algorithm = der::algorithm("1.2.840.113549.1.1.12");
                },
                rsa()),
            "VALID");
}

TEST(TokenSignedAttributes, LookupAndValues) {
  const auto with = [](const std::function<void(TokenBuilder&, std::vector<std::string>&)>& edit) {
    TokenBuilder b(ec(), kSubject);
    TokenBuilder* self = &b;
    b.edit_signed_attributes = [self, edit](std::vector<std::string>& attrs) { edit(*self, attrs); };
    return outcome(b);
  };
  // Default order: content-type, signing-time, message-digest, signing-certificate-v2.
  EXPECT_EQ(with([](TokenBuilder&, std::vector<std::string>& a) { a.erase(a.begin()); }),
            "TIMESTAMP_PARSE: signed attribute 1.2.840.113549.1.9.3 must appear exactly once");
  EXPECT_EQ(with([](TokenBuilder&, std::vector<std::string>& a) {
              a[0] = TokenBuilder::attribute("1.2.840.113549.1.9.3", {der::integer(1)});
            }),
            "TIMESTAMP_PARSE: content-type attribute does not parse");
  EXPECT_EQ(with([](TokenBuilder&, std::vector<std::string>& a) {
              a[0] = TokenBuilder::attribute("1.2.840.113549.1.9.3", {der::oid("1.2.840.113549.1.7.1")});
            }),
            "TIMESTAMP_PARSE: signed content-type is not TSTInfo");
  EXPECT_EQ(with([](TokenBuilder&, std::vector<std::string>& a) { a.erase(a.begin() + 2); }),
            "TIMESTAMP_PARSE: signed attribute 1.2.840.113549.1.9.4 must appear exactly once");
  EXPECT_EQ(with([](TokenBuilder&, std::vector<std::string>& a) {
              a[2] = TokenBuilder::attribute("1.2.840.113549.1.9.4", {der::integer(1)});
            }),
            "TIMESTAMP_PARSE: message-digest attribute does not parse");
  EXPECT_EQ(with([](TokenBuilder&, std::vector<std::string>& a) {
              a[2] = TokenBuilder::attribute("1.2.840.113549.1.9.4", {der::octets(std::string(32, 'z'))});
            }),
            "TIMESTAMP_SIGNATURE_INVALID: signed digest does not match the TSTInfo");

  const std::string v2_once = "TIMESTAMP_PARSE: signed attribute 1.2.840.113549.1.9.16.2.47 must appear exactly once";
  EXPECT_EQ(with([](TokenBuilder&, std::vector<std::string>& a) { a.pop_back(); }), v2_once);
  EXPECT_EQ(with([](TokenBuilder&, std::vector<std::string>& a) { a.push_back(a.back()); }), v2_once);
  EXPECT_EQ(with([](TokenBuilder& b, std::vector<std::string>& a) {
              const std::string value =
                  der::seq({der::seq({der::seq({der::octets(hash_of(Hash::Sha256, b.hierarchy->signer.der))})})});
              a.back() = TokenBuilder::attribute("1.2.840.113549.1.9.16.2.47", der::sorted({value, der::null()}));
            }),
            v2_once);

  TokenBuilder none(ec(), kSubject);
  none.signed_attributes_present = false;
  EXPECT_EQ(outcome(none), "TIMESTAMP_PARSE: token has no signed attributes");
}

TEST(TokenSignedAttributes, SigningCertificateV2) {
  const auto with_value = [](const std::function<std::string(const TokenBuilder&)>& value) {
    TokenBuilder b(ec(), kSubject);
    const TokenBuilder* self = &b;
    b.edit_signed_attributes = [self, value](std::vector<std::string>& attrs) {
      attrs.back() = TokenBuilder::attribute("1.2.840.113549.1.9.16.2.47", {value(*self)});
    };
    return outcome(b);
  };
  const auto signer_hash = [](Hash hash) { return der::octets(hash_of(hash, ec().signer.der)); };
  const auto ids = [](const std::string& id) { return der::seq({der::seq({id})}); };

  EXPECT_EQ(with_value([](const TokenBuilder&) { return der::integer(1); }),
            "TIMESTAMP_PARSE: signing-certificate-v2 does not parse");
  EXPECT_EQ(with_value([](const TokenBuilder&) { return der::seq({}); }), "TIMESTAMP_PARSE: signing-certificate-v2 is empty");
  EXPECT_EQ(with_value([](const TokenBuilder&) { return der::seq({der::integer(1)}); }),
            "TIMESTAMP_PARSE: signing-certificate-v2 ids do not parse");
  EXPECT_EQ(with_value([](const TokenBuilder&) { return der::seq({der::seq({})}); }),
            "TIMESTAMP_PARSE: signing-certificate-v2 has no cert id");
  EXPECT_EQ(with_value([](const TokenBuilder&) { return der::seq({der::seq({der::integer(1)})}); }),
            "TIMESTAMP_PARSE: ESSCertIDv2 does not parse");
  EXPECT_EQ(with_value([&](const TokenBuilder&) { return ids(der::seq({})); }), "TIMESTAMP_PARSE: ESSCertIDv2 has no hash");
  EXPECT_EQ(with_value([&](const TokenBuilder&) {
              return ids(der::seq({der::seq({der::integer(1)}), signer_hash(Hash::Sha256)}));
            }),
            "TIMESTAMP_PARSE: ESSCertIDv2 hash algorithm does not parse");
  EXPECT_EQ(with_value([&](const TokenBuilder&) {
              return ids(der::seq({der::algorithm(hash_oid(Hash::Sha1)), signer_hash(Hash::Sha1)}));
            }),
            "TIMESTAMP_UNSUPPORTED: ESSCertIDv2 hash is not SHA-256/384/512");
  EXPECT_EQ(with_value([&](const TokenBuilder&) { return ids(der::seq({der::algorithm(hash_oid(Hash::Sha384))})); }),
            "TIMESTAMP_PARSE: ESSCertIDv2 has no hash");
  EXPECT_EQ(with_value([&](const TokenBuilder&) { return ids(der::seq({der::integer(5)})); }),
            "TIMESTAMP_PARSE: ESSCertIDv2 hash is not an OCTET STRING");
  EXPECT_EQ(with_value([&](const TokenBuilder&) { return ids(der::seq({signer_hash(Hash::Sha384)})); }),
            "TIMESTAMP_CHAIN_INVALID: signed certificate id does not match the signer certificate");
  // Without hashAlgorithm the default SHA-256 applies; a named SHA-384 is used as named.
  EXPECT_EQ(with_value([&](const TokenBuilder&) { return ids(der::seq({signer_hash(Hash::Sha256)})); }), "VALID");
  EXPECT_EQ(with_value([&](const TokenBuilder&) {
              return ids(der::seq({der::algorithm(hash_oid(Hash::Sha384)), signer_hash(Hash::Sha384)}));
            }),
            "VALID");
  // Only the first id counts; issuerSerial and further ids are not examined.
  EXPECT_EQ(with_value([&](const TokenBuilder&) {
              return der::seq({der::seq({der::seq({signer_hash(Hash::Sha256), der::seq({})}), der::integer(9)}), der::seq({})});
            }),
            "VALID");
}

TEST(TokenSigner, FindingTheSignerCertificate) {
  const std::string absent = "TIMESTAMP_CHAIN_INVALID: the signer certificate is not in the token";
  TokenBuilder b(ec(), kSubject);
  b.sid = der::context(0, std::string(20, 'k'), false);  // subjectKeyIdentifier
  EXPECT_EQ(outcome(b), absent);
  b = TokenBuilder(ec(), kSubject);
  b.certificates_present = false;
  EXPECT_EQ(outcome(b), absent);
  // Issuer right, serial wrong; then the serial of another certificate under that issuer.
  Tree tree(TokenBuilder(ec(), kSubject).build());
  der::Node& serial = tree.signed_data().children.back().at({0, 1, 1});
  serial.contents.back() ^= 1;
  EXPECT_EQ(outcome(tree.write(), ec()), absent);
}

TEST(TokenSigner, KeyAndSignature) {
  // Signers whose keys break the key rules, each issued by the test root.
  const auto signer_with = [](KeyKind kind) {
    Hierarchy h = make_hierarchy(KeyKind::P384, KeyKind::P256);
    h.signer_key = &TestKey::get(kind, 1);
    h.signer = make_cert(signer_spec(), *h.signer_key, &h.root, *h.root_key);
    return h;
  };
  {
    const Hierarchy h = signer_with(KeyKind::Rsa2047);
    EXPECT_EQ(outcome(TokenBuilder(h, kSubject).build(), h), "TIMESTAMP_UNSUPPORTED: RSA key is shorter than 2048 bits");
  }
  {
    const Hierarchy h = signer_with(KeyKind::P521);
    EXPECT_EQ(outcome(TokenBuilder(h, kSubject).build(), h), "TIMESTAMP_UNSUPPORTED: EC curve is not P-256 or P-384");
  }
  {
    const Hierarchy h = signer_with(KeyKind::Ed25519);
    TokenBuilder b(h, kSubject);
    b.signature_algorithm = der::algorithm("1.2.840.10045.4.3.2");
    EXPECT_EQ(outcome(b), "TIMESTAMP_UNSUPPORTED: certificate key is not RSA or ECDSA");
  }
  {
    const Hierarchy h = signer_with(KeyKind::Rsa2048);
    EXPECT_EQ(outcome(TokenBuilder(h, kSubject).build(), h), "VALID");
  }

  const std::string bad = "TIMESTAMP_SIGNATURE_INVALID: the TSA signature does not verify";
  TokenBuilder b(ec(), kSubject);
  b.signature = std::string(70, '\x30');
  EXPECT_EQ(outcome(b), bad);
  // An EC signer named with an RSA scheme fails like a bad signature.
  b = TokenBuilder(ec(), kSubject);
  b.signature_algorithm = der::algorithm("1.2.840.113549.1.1.1", der::null());
  EXPECT_EQ(outcome(b), bad);
  // An RSA signature one octet longer than the modulus.
  TokenBuilder r(rsa(), kSubject);
  Tree tree(r.build());
  der::Node& signature = tree.signed_data().children.back().at({0, 5});
  signature.contents.insert(0, 1, '\0');
  EXPECT_EQ(outcome(tree.write(), rsa()), bad);
  // The signature covers the signed attributes: one changed after signing breaks it.
  TokenBuilder changed(rsa(), kSubject);
  changed.signature = Tree(TokenBuilder(rsa(), kSubject).build()).signed_data().children.back().at({0, 5}).contents;
  EXPECT_EQ(outcome(changed), "VALID");
  changed.edit_signed_attributes = [](std::vector<std::string>& attrs) {
    attrs[1] = TokenBuilder::attribute("1.2.840.113549.1.9.5", {der::tlv(0x17, "250601120001Z")});
  };
  EXPECT_EQ(outcome(changed), bad);
}

TEST(TokenSigner, SignerRulesAndTsaName) {
  const auto issued = [](const std::function<void(CertSpec&)>& edit) {
    Hierarchy h = make_hierarchy(KeyKind::P384, KeyKind::P256);
    CertSpec spec = signer_spec();
    edit(spec);
    h.signer = make_cert(spec, *h.signer_key, &h.root, *h.root_key);
    return outcome(TokenBuilder(h, kSubject).build(), h);
  };
  EXPECT_EQ(issued([](CertSpec& s) {
              s.extra.push_back({"2.5.29.32", true, der::seq({})});
            }),
            "TIMESTAMP_CHAIN_INVALID: certificate 'CN=Test TSA Signer,O=Orvelant Test' has a critical extension this "
            "verifier does not process");
  // The remaining signer rules are covered where check_signer_certificate is tested.

  const std::string not_signer = "TIMESTAMP_CHAIN_INVALID: the TSA named in the token is not the signer";
  TokenBuilder b(ec(), kSubject);
  b.tsa = der::context(0, der::context(4, subject_name(ec().signer)));
  EXPECT_EQ(outcome(b), "VALID");
  b.tsa = der::context(0, der::context(4, subject_name(ec().root)));
  EXPECT_EQ(outcome(b), not_signer);
  b.tsa = der::context(0, der::tlv(0x82, "tsa.example"));
  EXPECT_EQ(outcome(b), not_signer);
}

TEST(TokenChain, PathAndCompleteness) {
  const std::string off_path = "TIMESTAMP_CHAIN_INVALID: token carries a certificate that is not on the verified path";
  TokenBuilder b(rsa(), kSubject);
  std::vector<std::string> with_root = rsa().token_certs();
  with_root.push_back(rsa().root.der);
  b.certificates = with_root;
  EXPECT_EQ(outcome(b), off_path);
  b.certificates = std::vector<std::string>{rsa().signer.der, rsa().intermediates[0].der, ec().root.der};
  EXPECT_EQ(outcome(b), off_path);
  b.certificates = std::vector<std::string>{rsa().signer.der};
  EXPECT_EQ(outcome(b), "TIMESTAMP_CHAIN_INVALID: the signer does not chain to the pinned TSA root");

  // The same hierarchy's token judged against another authority never falls back.
  const std::string token = TokenBuilder(rsa(), kSubject).build();
  EXPECT_EQ(outcome(token, ec()), "TIMESTAMP_CHAIN_INVALID: the signer does not chain to the pinned TSA root");
  // Validity is judged at genTime: a signer that has expired by now still passes.
  Hierarchy h = make_hierarchy(KeyKind::P384, KeyKind::P256);
  CertSpec spec = signer_spec();
  spec.not_after = kGenTime;
  h.signer = make_cert(spec, *h.signer_key, &h.root, *h.root_key);
  EXPECT_EQ(outcome(TokenBuilder(h, kSubject).build(), h, kNow + 10 * kYear), "VALID");
}

TEST(TokenTime, GenTimeMayRunFiveMinutesAhead) {
  const std::string token = TokenBuilder(ec(), kSubject).build();
  EXPECT_EQ(outcome(token, ec(), kGenTime - 300), "VALID");
  EXPECT_EQ(outcome(token, ec(), kGenTime - 301),
            "TIMESTAMP_IN_FUTURE: timestamp 2025-06-01T12:00:00Z is later than your clock 2025-06-01T11:54:59Z");
  EXPECT_EQ(outcome(token, ec(), UINT64_MAX), "VALID");
  EXPECT_EQ(outcome(token, ec(), 0),
            "TIMESTAMP_IN_FUTURE: timestamp 2025-06-01T12:00:00Z is later than your clock 1970-01-01T00:00:00Z");
}

}  // namespace
}  // namespace orv::tsa
