#include "crypto/mldsa65.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/hex.h"
#include "crypto/mldsa65_internal.h"
#include "crypto/shake.h"
#include "support/openssl_mldsa65.h"
#include "support/shared_data.h"

namespace orv::crypto {
namespace {

using Bytes = std::vector<uint8_t>;
namespace openssl_mldsa65 = orv::test::openssl_mldsa65;

const std::filesystem::path kCommittedData = std::filesystem::path(ORV_SOURCE_DIR) / "tests/data/mldsa65";

rapidjson::Document load_json(const std::filesystem::path& path) {
  rapidjson::Document doc;
  const std::string text = orv::test::read_file(path);
  doc.Parse(text.data(), text.size());
  EXPECT_FALSE(doc.HasParseError()) << path;
  return doc;
}

// A hex member as bytes; a missing or null member (ACVP's absent context) is empty.
Bytes hex_member(const rapidjson::Value& obj, const char* name) {
  const auto it = obj.FindMember(name);
  if (it == obj.MemberEnd() || it->value.IsNull()) return {};
  auto bytes = hex_decode({it->value.GetString(), it->value.GetStringLength()});
  EXPECT_TRUE(bytes.has_value()) << name;
  return bytes.value_or(Bytes{});
}

std::string case_label(const rapidjson::Value& c) {
  std::string label;
  for (const char* key : {"tcId", "id"}) {
    if (c.HasMember(key)) label += std::string(key) + "=" + std::to_string(c[key].GetInt()) + " ";
  }
  if (c.HasMember("why") && c["why"].IsString()) label += c["why"].GetString();
  return label;
}

struct Tally {
  int accepted = 0;
  int rejected = 0;
};

// Runs every external-interface case of a vector file through the public entry point.
Tally run_external_cases(const rapidjson::Document& cases) {
  Tally tally;
  for (const auto& c : cases.GetArray()) {
    const bool expected = c["valid"].GetBool();
    const bool got = mldsa65_verify(hex_member(c, "pk"), hex_member(c, "msg"), hex_member(c, "ctx"), hex_member(c, "sig"));
    EXPECT_EQ(got, expected) << case_label(c);
    (got ? tally.accepted : tally.rejected)++;
  }
  return tally;
}

TEST(Mldsa65Vectors, Acvp) {
  ORV_REQUIRE_SHARED(shared);
  const auto cases = load_json(shared / "testdata/mldsa65/acvp-sigver.json");
  ASSERT_TRUE(cases.IsArray());
  int external = 0, internal = 0, with_mu = 0, accepted = 0;
  for (const auto& c : cases.GetArray()) {
    SCOPED_TRACE(case_label(c));
    const bool expected = c["valid"].GetBool();
    const Bytes pk = hex_member(c, "pk");
    const Bytes sig = hex_member(c, "sig");
    bool got;
    if (std::string(c["interface"].GetString()) == "external") {
      got = mldsa65_verify(pk, hex_member(c, "msg"), hex_member(c, "ctx"), sig);
      ++external;
    } else if (c["externalMu"].GetBool()) {
      got = mldsa65::verify_mu(pk, hex_member(c, "mu"), sig);
      ++with_mu;
    } else {
      got = mldsa65::verify_internal(pk, hex_member(c, "msg"), sig);
      ++internal;
    }
    EXPECT_EQ(got, expected);
    accepted += got;
  }
  EXPECT_EQ(external, 15);
  EXPECT_EQ(internal, 15);
  EXPECT_EQ(with_mu, 15);
  EXPECT_EQ(accepted, 9);
}

TEST(Mldsa65Vectors, Wycheproof) {
  ORV_REQUIRE_SHARED(shared);
  const auto cases = load_json(shared / "testdata/mldsa65/wycheproof-verify.json");
  ASSERT_TRUE(cases.IsArray());
  const Tally tally = run_external_cases(cases);
  EXPECT_EQ(tally.accepted, 79);
  EXPECT_EQ(tally.rejected, 131);
}

// Our own vectors are committed, so these run on a fresh clone too. They include the cases a
// verifier missing one particular check would accept ("trap").
TEST(Mldsa65Vectors, Crosscheck) {
  const auto cases = load_json(kCommittedData / "crosscheck.json");
  ASSERT_TRUE(cases.IsArray());
  int traps = 0;
  for (const auto& c : cases.GetArray()) traps += c.HasMember("trap");
  EXPECT_EQ(traps, 26);
  const Tally tally = run_external_cases(cases);
  EXPECT_EQ(tally.accepted, 41);
  EXPECT_EQ(tally.rejected, 127);
}

// ---- targeted tampering of one valid signature ------------------------------------------

struct Fixture {
  Bytes pk, msg, ctx, sig;
};

Fixture bench_fixture() {
  const auto doc = load_json(kCommittedData / "bench-300.json");
  return {hex_member(doc, "pk"), hex_member(doc, "msg"), hex_member(doc, "ctx"), hex_member(doc, "sig")};
}

constexpr size_t kZStart = 48;
constexpr size_t kHintStart = 48 + 5 * 640;

class Mldsa65Tamper : public ::testing::Test {
 protected:
  void SetUp() override {
    f_ = bench_fixture();
    ASSERT_TRUE(verify(f_)) << "the fixture itself must verify";
  }
  static bool verify(const Fixture& f) { return mldsa65_verify(f.pk, f.msg, f.ctx, f.sig); }

  Fixture f_;
};

TEST_F(Mldsa65Tamper, FlippedBitInAnyRegionFails) {
  for (size_t byte = 0; byte < kZStart; ++byte) {  // c~ must be compared over all 48 bytes
    Fixture t = f_;
    t.sig[byte] ^= 0x01;
    EXPECT_FALSE(verify(t)) << "c~ byte " << byte;
  }
  const std::pair<const char*, size_t> sig_spots[] = {{"z first", kZStart},
                                                      {"z last", kHintStart - 1},
                                                      {"hint index", kHintStart},
                                                      {"hint padding", kHintStart + 54},
                                                      {"hint count", kHintStart + 55},
                                                      {"last hint count", kHintStart + 60}};
  for (const auto& [what, pos] : sig_spots) {
    for (int bit = 0; bit < 8; ++bit) {
      Fixture t = f_;
      t.sig[pos] ^= static_cast<uint8_t>(1u << bit);
      EXPECT_FALSE(verify(t)) << what << " bit " << bit;
    }
  }
  for (size_t pos : {0, 31, 32, 1000, 1951}) {  // rho, then t1
    Fixture t = f_;
    t.pk[pos] ^= 0x01;
    EXPECT_FALSE(verify(t)) << "public key byte " << pos;
  }
  Fixture t = f_;
  t.msg[299] ^= 0x80;
  EXPECT_FALSE(verify(t)) << "message";
  t = f_;
  t.ctx[0] ^= 0x20;
  EXPECT_FALSE(verify(t)) << "context";
}

TEST_F(Mldsa65Tamper, LengthsAreExact) {
  for (const int delta : {-1, 1}) {
    Fixture t = f_;
    t.sig.resize(t.sig.size() + delta);
    EXPECT_FALSE(verify(t)) << "signature length off by " << delta;
    t = f_;
    t.pk.resize(t.pk.size() + delta);
    EXPECT_FALSE(verify(t)) << "key length off by " << delta;
  }
  EXPECT_FALSE(mldsa65_verify({}, f_.msg, f_.ctx, f_.sig));
  EXPECT_FALSE(mldsa65_verify(f_.pk, f_.msg, f_.ctx, {}));
  EXPECT_FALSE(mldsa65::verify_mu(f_.pk, Bytes(63, 0), f_.sig));

  // A length byte taken mod 256 would give this 270-byte context the signed M'.
  Fixture t = f_;
  t.ctx.insert(t.ctx.end(), t.msg.begin(), t.msg.begin() + 256);
  t.msg.erase(t.msg.begin(), t.msg.begin() + 256);
  ASSERT_EQ(t.ctx.size() % 256, f_.ctx.size());
  EXPECT_FALSE(verify(t));
}

// Re-encodings that a lenient decoder would read back as the signature's own hint set (and so
// accept), or that would walk it past the end of the signature.
TEST_F(Mldsa65Tamper, NonCanonicalHintEncodingsFail) {
  const size_t total = f_.sig[kHintStart + 60];
  ASSERT_LT(total, 55u);
  ASSERT_GE(f_.sig[kHintStart + 55], 1u);
  Fixture t = f_;
  uint8_t* y = t.sig.data() + kHintStart;
  for (size_t k = total; k > 0; --k) y[k] = y[k - 1];  // first index of polynomial 0 twice
  for (size_t i = 0; i < 6; ++i) y[55 + i]++;
  EXPECT_FALSE(verify(t)) << "repeated index";

  // Counts above omega with every byte read strictly increasing, on into the count bytes.
  for (uint8_t k = 0; k < 55; ++k) y[k] = k;
  const uint8_t counts[6] = {56, 57, 58, 59, 60, 255};
  std::copy(std::begin(counts), std::end(counts), y + 55);
  EXPECT_FALSE(verify(t)) << "counts above omega";
  y[55] = 55;
  y[60] = 56;
  EXPECT_FALSE(verify(t)) << "last count above omega";

  // Crosscheck case 33 is valid and its polynomial 1 has no hints (counts 8, 8, ...), so a
  // decoder that skipped a decreasing count would read the same hint set.
  const auto cases = load_json(kCommittedData / "crosscheck.json");
  const auto& c = cases.GetArray()[32];
  ASSERT_EQ(c["id"].GetInt(), 33);
  Fixture e{hex_member(c, "pk"), hex_member(c, "msg"), hex_member(c, "ctx"), hex_member(c, "sig")};
  ASSERT_TRUE(verify(e));
  ASSERT_EQ(e.sig[kHintStart + 55], e.sig[kHintStart + 56]);
  for (const int lower : {0, e.sig[kHintStart + 55] - 1}) {
    e.sig[kHintStart + 56] = static_cast<uint8_t>(lower);
    EXPECT_FALSE(verify(e)) << "decreasing count " << lower;
  }
}

// ---- a second opinion: OpenSSL's own ML-DSA-65 (3.5 and later) ---------------------------

#define ORV_REQUIRE_OPENSSL_MLDSA() \
  if (!openssl_mldsa65::available()) GTEST_SKIP() << OpenSSL_version(OPENSSL_VERSION) << " has no ML-DSA-65 to compare with"

std::string hex_dump(const Fixture& f) {
  return "pk=" + hex_encode(f.pk) + "\nmsg=" + hex_encode(f.msg) + "\nctx=" + hex_encode(f.ctx) + "\nsig=" + hex_encode(f.sig);
}

TEST(Mldsa65AgainstOpenSsl, EveryPublishedVectorGetsTheSameVerdict) {
  ORV_REQUIRE_OPENSSL_MLDSA();
  ORV_REQUIRE_SHARED(shared);
  using openssl_mldsa65::Input;
  int compared = 0;
  for (const char* file : {"acvp-sigver.json", "wycheproof-verify.json", "crosscheck.json"}) {
    const auto cases = load_json(shared / "testdata/mldsa65" / file);
    ASSERT_TRUE(cases.IsArray()) << file;
    for (const auto& c : cases.GetArray()) {
      const Bytes pk = hex_member(c, "pk"), sig = hex_member(c, "sig");
      const std::string interface = c.HasMember("interface") ? c["interface"].GetString() : "";
      bool ours, theirs;
      if (interface == "internal" && c["externalMu"].GetBool()) {
        ours = mldsa65::verify_mu(pk, hex_member(c, "mu"), sig);
        theirs = openssl_mldsa65::verify(pk, hex_member(c, "mu"), {}, sig, Input::mu);
      } else if (interface == "internal") {
        ours = mldsa65::verify_internal(pk, hex_member(c, "msg"), sig);
        theirs = openssl_mldsa65::verify(pk, hex_member(c, "msg"), {}, sig, Input::internal);
      } else {
        const Bytes msg = hex_member(c, "msg"), ctx = hex_member(c, "ctx");
        ours = mldsa65_verify(pk, msg, ctx, sig);
        theirs = openssl_mldsa65::verify(pk, msg, ctx, sig);
      }
      EXPECT_EQ(ours, theirs) << file << " " << case_label(c);
      ++compared;
    }
  }
  EXPECT_EQ(compared, 45 + 210 + 168);
}

// Fresh keys and hedged signatures from OpenSSL over random messages and contexts; each
// signature is checked as made and after each of eight kinds of corruption.
TEST(Mldsa65AgainstOpenSsl, RandomKeysMessagesAndCorruptions) {
  ORV_REQUIRE_OPENSSL_MLDSA();
  std::mt19937_64 rng(13);
  auto below = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  auto random_bytes = [&](size_t n) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
  };
  auto flip_bit = [&](Bytes& b, size_t from, size_t to) { b[from + below(to - from)] ^= static_cast<uint8_t>(1u << below(8)); };
  const std::function<void(Fixture&)> corruptions[] = {
      [&](Fixture& f) { flip_bit(f.sig, 0, kZStart); },
      [&](Fixture& f) { flip_bit(f.sig, kZStart, kHintStart); },
      [&](Fixture& f) { flip_bit(f.sig, kHintStart, f.sig.size()); },
      [&](Fixture& f) { f.sig[kHintStart + below(61)] = static_cast<uint8_t>(rng()); },
      [&](Fixture& f) { below(2) ? f.sig.push_back(0) : f.sig.pop_back(); },
      [&](Fixture& f) { flip_bit(f.pk, 0, f.pk.size()); },
      [&](Fixture& f) { f.msg.empty() ? f.msg.push_back(0) : flip_bit(f.msg, 0, f.msg.size()); },
      [&](Fixture& f) { f.ctx.size() == 255 ? f.ctx.pop_back() : f.ctx.push_back(0); },
  };
  auto agree = [](const Fixture& f) {
    const bool ours = mldsa65_verify(f.pk, f.msg, f.ctx, f.sig);
    const bool theirs = openssl_mldsa65::verify(f.pk, f.msg, f.ctx, f.sig);
    EXPECT_EQ(ours, theirs) << hex_dump(f);
    return ours == theirs;
  };

  int compared = 0;
  for (int key = 0; key < 125; ++key) {
    const auto pair = openssl_mldsa65::KeyPair::generate();
    ASSERT_TRUE(pair.has_value());
    for (int message = 0; message < 4; ++message) {
      Fixture f{pair->public_key(), random_bytes(below(1025)), random_bytes(below(4) == 0 ? 0 : below(256)), {}};
      f.sig = pair->sign(f.msg, f.ctx);
      ASSERT_EQ(f.sig.size(), kMldsa65SignatureBytes);
      ASSERT_TRUE(mldsa65_verify(f.pk, f.msg, f.ctx, f.sig)) << hex_dump(f);
      ASSERT_TRUE(agree(f));
      for (const auto& corrupt : corruptions) {
        Fixture t = f;
        corrupt(t);
        ASSERT_TRUE(agree(t));
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, 125 * 4 * 8);
}

// ---- building blocks ---------------------------------------------------------------------

Bytes openssl_shake(const EVP_MD* md, const Bytes& in, size_t out_len) {
  Bytes out(out_len);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EXPECT_EQ(EVP_DigestInit_ex(ctx, md, nullptr), 1);
  EXPECT_EQ(EVP_DigestUpdate(ctx, in.data(), in.size()), 1);
  EXPECT_EQ(EVP_DigestFinalXOF(ctx, out.data(), out.size()), 1);
  EVP_MD_CTX_free(ctx);
  return out;
}

// Checked against OpenSSL around every block boundary, with input and output in uneven pieces.
TEST(Shake, MatchesOpenSslAcrossBlockBoundaries) {
  std::mt19937 rng(7);
  for (const bool wide : {false, true}) {
    const EVP_MD* md = wide ? EVP_shake256() : EVP_shake128();
    for (size_t len = 0; len <= 2 * Shake::kRate128 + 3; ++len) {
      Bytes in(len);
      for (auto& b : in) b = static_cast<uint8_t>(rng());
      const size_t out_len = 3 * Shake::kRate128 + 5;
      const Bytes expected = openssl_shake(md, in, out_len);

      Shake whole = wide ? Shake::shake256() : Shake::shake128();
      whole.absorb(in);
      Bytes got(out_len);
      whole.squeeze(got);
      ASSERT_EQ(got, expected) << "wide=" << wide << " len=" << len;

      Shake pieces = wide ? Shake::shake256() : Shake::shake128();
      for (size_t i = 0; i < len;) {
        const size_t n = std::min<size_t>(len - i, rng() % 70);
        pieces.absorb({in.data() + i, n});
        i += n;
      }
      Bytes streamed(out_len);
      for (size_t i = 0; i < out_len;) {
        const size_t n = std::min<size_t>(out_len - i, 1 + rng() % 200);
        pieces.squeeze({streamed.data() + i, n});
        i += n;
      }
      ASSERT_EQ(streamed, expected) << "wide=" << wide << " len=" << len << " (in pieces)";
    }
  }
}

// Values worked out by hand from Decompose and UseHint, at the edges of each branch.
TEST(Mldsa65Rounding, UseHintAtBoundaries) {
  constexpr int32_t g = (mldsa65::kQ - 1) / 32;
  constexpr int32_t q = mldsa65::kQ;
  struct Case {
    int32_t r, without, with;
  };
  const Case cases[] = {
      {0, 0, 15},        {1, 0, 1},          {g, 0, 1},      {g + 1, 1, 0},  {2 * g, 1, 0},
      {2 * g + 1, 1, 2}, {q - 1 - g, 15, 0}, {q - g, 0, 15}, {q - 2, 0, 15}, {q - 1, 0, 15},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mldsa65::use_hint(c.r, 0), c.without) << "r=" << c.r;
    EXPECT_EQ(mldsa65::use_hint(c.r, 1), c.with) << "r=" << c.r << " with hint";
  }
}

// This seed's SHAKE128 stream holds the value q itself as candidate 157: it must be skipped,
// not taken as a coefficient.
TEST(Mldsa65Sampling, RejectsCandidateEqualToQ) {
  std::array<uint8_t, 32> rho{};
  rho[0] = 156971 & 0xff;
  rho[1] = (156971 >> 8) & 0xff;
  rho[2] = 156971 >> 16;
  Bytes seed(rho.begin(), rho.end());
  seed.push_back(0);
  seed.push_back(0);
  const Bytes stream = openssl_shake(EVP_shake128(), seed, 3 * 160);
  auto candidate = [&](size_t k) { return stream[3 * k] | stream[3 * k + 1] << 8 | (stream[3 * k + 2] & 0x7f) << 16; };
  ASSERT_EQ(candidate(157), mldsa65::kQ);
  for (size_t k = 0; k < 157; ++k) ASSERT_LT(candidate(k), mldsa65::kQ);
  mldsa65::Poly a;
  mldsa65::sample_ntt_poly(rho, 0, 0, a);
  EXPECT_EQ(a[156], candidate(156));
  EXPECT_EQ(a[157], candidate(158));
}

// The inverse accepts any input below 2^31 - 2^22 in magnitude (a row sums six products and is
// not reduced first): such inputs must give the same result as their residues.
TEST(Mldsa65Ntt, InverseDependsOnlyOnResidues) {
  constexpr int32_t q = mldsa65::kQ;
  constexpr int32_t top = (1 << 30) + ((1 << 30) - (1 << 22) - 1);  // 2^31 - 2^22 - 1
  std::mt19937 rng(5);
  for (int pattern = 0; pattern < 3; ++pattern) {
    mldsa65::Poly big, small;
    for (size_t i = 0; i < 256; ++i) {
      // all at the top; alternating signs; random signs just below the top
      const int32_t sign = pattern == 0 ? 1 : pattern == 1 ? (i % 2 ? 1 : -1) : (rng() % 2 ? 1 : -1);
      big[i] = sign * (top - (pattern == 2 ? static_cast<int32_t>(rng() % 1000) : 0));
      small[i] = ((big[i] % q) + q) % q;
    }
    mldsa65::inverse_ntt_of_products(big);
    mldsa65::inverse_ntt_of_products(small);
    for (size_t i = 0; i < 256; ++i) {
      ASSERT_EQ((big[i] % q + q) % q, (small[i] % q + q) % q) << "pattern " << pattern << " coefficient " << i;
    }
  }
}

}  // namespace
}  // namespace orv::crypto
