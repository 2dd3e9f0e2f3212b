#include "tsa/stamp_file.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "core/hex.h"
#include "support/printers.h"
#include "support/tsa_der.h"
#include "support/tsa_pki.h"

namespace orv::tsa {
namespace {

namespace der = orv::test::der;
using namespace orv::test::tsa;

const std::string kFile = "contents of the file being vouched for";

struct Authorities {
  Hierarchy rsa = make_hierarchy(KeyKind::Rsa2048, KeyKind::Rsa2048, 1);
  Hierarchy ec = make_hierarchy(KeyKind::P256, KeyKind::P384);
  std::vector<PinnedAuthority> table{rsa.authority("Alpha"), ec.authority("Beta")};
};

const Authorities& authorities() {
  static const Authorities a;
  return a;
}

std::string token(const Hierarchy& h, int64_t gen_offset = 0, const std::string& subject = kFile) {
  TokenBuilder b(h, subject);
  b.gen_time = der::generalized_time(std::string(gen_offset == 0    ? "20250601120000Z"
                                                 : gen_offset == 60 ? "20250601120100Z"
                                                                    : "20250601115900Z"));
  return b.build();
}

TimestampReport judged(const std::string& stamp, const std::string& document = kFile, uint64_t now = kNow) {
  return verify_stamp_file(document, stamp, authorities().table, now);
}

void expect_one_problem(const TimestampReport& report, const std::string& code, const std::string& message) {
  ASSERT_EQ(report.problems.size(), 1u) << (report.problems.empty() ? "" : report.problems[0].message);
  EXPECT_EQ(report.problems[0].code, code);
  EXPECT_EQ(report.problems[0].message, message);
  EXPECT_EQ(report.outcome, Outcome::Invalid);
  EXPECT_FALSE(report.valid);
  EXPECT_FALSE(report.no_later_than);
  EXPECT_EQ(report.scope, kTimestampScope);
  EXPECT_EQ(report.evaluated_at, "2025-06-01T13:00:00Z");
}

void expect_file_problem(const std::string& stamp, const std::string& code, const std::string& message) {
  const TimestampReport report = judged(stamp);
  expect_one_problem(report, code, message);
  EXPECT_TRUE(report.stamps.empty());
}

std::string b64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  out.resize(
      static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                          reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()))));
  return out;
}

TEST(StampFile, OneToFourTokensAndTheLatestTimeWins) {
  const auto& a = authorities();
  TimestampReport report = judged(stamp_file({{"Alpha", token(a.rsa)}}));
  ASSERT_TRUE(report.valid) << report.problems[0].message;
  EXPECT_EQ(report.outcome, Outcome::Valid);
  ASSERT_EQ(report.stamps.size(), 1u);
  EXPECT_EQ(report.stamps[0].tsa, "Alpha");
  EXPECT_EQ(report.no_later_than, "2025-06-01T12:00:00Z");
  EXPECT_EQ(report.evaluated_at, "2025-06-01T13:00:00Z");
  EXPECT_EQ(report.scope, kTimestampScope);

  // Four tokens, two from one authority; the verdict takes the latest, not the earliest.
  report = judged(
      stamp_file({{"Beta", token(a.ec, -60)}, {"Alpha", token(a.rsa, 60)}, {"Beta", token(a.ec)}, {"Alpha", token(a.rsa, -60)}}));
  ASSERT_TRUE(report.valid) << report.problems[0].message;
  ASSERT_EQ(report.stamps.size(), 4u);
  EXPECT_EQ(report.stamps[0].gen_time, "2025-06-01T11:59:00Z");
  EXPECT_EQ(report.stamps[1].tsa, "Alpha");
  EXPECT_EQ(report.no_later_than, "2025-06-01T12:01:00Z");
}

TEST(StampFile, MissingFileIsTheOnlyRefusal) {
  const TimestampReport report = verify_stamp_file(kFile, std::nullopt, authorities().table, kNow);
  EXPECT_EQ(report.outcome, Outcome::Refused);
  EXPECT_FALSE(report.valid);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0], (Problem{"TIMESTAMP_MISSING", "no timestamp file given", 0}));
  EXPECT_EQ(report.evaluated_at, "2025-06-01T13:00:00Z");
  EXPECT_EQ(report.scope, kTimestampScope);
}

TEST(StampFile, SizeLimitIsExactly1MiB) {
  std::string stamp = stamp_file({{"Beta", token(authorities().ec)}});
  stamp.resize(kMaxStampFileBytes, ' ');
  EXPECT_TRUE(judged(stamp).valid);
  stamp += ' ';
  expect_file_problem(stamp, "TIMESTAMP_PARSE", "timestamp file is larger than 1 MiB");
}

TEST(StampFile, TextStrictnessAndShape) {
  expect_file_problem("{\"schema\":\"x\xff\"}", "TIMESTAMP_PARSE", "timestamp file: invalid UTF-8 sequence at byte 12");
  expect_file_problem("{\"a\":\"\xed\xa0\x80\"}", "TIMESTAMP_PARSE", "timestamp file: invalid UTF-8 sequence at byte 6");
  expect_file_problem("\xf4\x90\x80\x80", "TIMESTAMP_PARSE", "timestamp file: invalid UTF-8 sequence at byte 0");
  // Characters of two, three and four bytes are stepped over whole; the offset stays exact.
  expect_file_problem("{\"schema\":\"\u00e9\u20ac\U0001F600\xff\"}", "TIMESTAMP_PARSE",
                      "timestamp file: invalid UTF-8 sequence at byte 20");
  expect_file_problem("{\"schema\":\"\u00e9\"}", "TIMESTAMP_PARSE", "timestamp file does not parse: missing field `tokens`");

  const std::string good = stamp_file({{"Beta", token(authorities().ec)}});
  for (const std::string& text :
       {std::string("{\"schema\":1.0}"), good.substr(0, good.size() - 1), std::string("{\"tokens\":[],\"tokens\":[]}")}) {
    const TimestampReport report = judged(text);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(report.problems[0].message.rfind("timestamp file: ", 0), 0u) << report.problems[0].message;
    EXPECT_NE(report.problems[0].message.find(" at line 1 column "), std::string::npos);
  }

  std::string extra = good;
  extra.insert(1, "\"comment\":\"hi\",");
  expect_file_problem(extra, "TIMESTAMP_PARSE",
                      "timestamp file does not parse: unknown field `comment`, expected `schema` or `tokens`");
  expect_file_problem("{\"schema\":\"orvelant/timestamp/v1\"}", "TIMESTAMP_PARSE",
                      "timestamp file does not parse: missing field `tokens`");
  expect_file_problem("{\"schema\":\"orvelant/timestamp/v1\",\"tokens\":[{\"tsa\":\"Beta\",\"token_b64\":5}]}", "TIMESTAMP_PARSE",
                      "timestamp file does not parse: invalid type: integer `5`, expected a string");
  expect_file_problem("5", "TIMESTAMP_PARSE",
                      "timestamp file does not parse: invalid type: integer `5`, expected struct StampFile");
}

TEST(StampFile, RecordsMayBeArraysOfTheirMembers) {
  const std::string b64_token = b64(token(authorities().ec));
  const std::string schema = "\"orvelant/timestamp/v1\"";
  EXPECT_TRUE(judged("[" + schema + ",[[\"Beta\",\"" + b64_token + "\"]]]").valid);
  EXPECT_TRUE(judged("{\"schema\":" + schema + ",\"tokens\":[[\"Beta\",\"" + b64_token + "\"]]}").valid);
  expect_file_problem("[" + schema + "]", "TIMESTAMP_PARSE",
                      "timestamp file does not parse: invalid length 1, expected struct StampFile with 2 elements");
  expect_file_problem("[" + schema + ",[[\"Beta\",\"" + b64_token + "\",1]]]", "TIMESTAMP_PARSE",
                      "timestamp file does not parse: invalid length 3, expected struct StampToken with 2 elements");
  expect_file_problem("[" + schema + ",[[\"Beta\",7]]]", "TIMESTAMP_PARSE",
                      "timestamp file does not parse: invalid type: integer `7`, expected a string");
}

TEST(StampFile, SchemaAndTokenCountComeBeforeAnyToken) {
  const std::string good = b64(token(authorities().ec));
  const auto file = [&](const std::string& schema, size_t count) {
    std::string text = "{\"schema\":\"" + schema + "\",\"tokens\":[";
    for (size_t i = 0; i < count; ++i) text += std::string(i ? "," : "") + "{\"tsa\":\"Beta\",\"token_b64\":\"" + good + "\"}";
    return text + "]}";
  };
  EXPECT_TRUE(judged(file("orvelant/timestamp/v1", 1)).valid);
  for (const std::string schema : {"orvelant/timestamp/v2", "Orvelant/timestamp/v1", ""}) {
    expect_file_problem(file(schema, 1), "TIMESTAMP_UNSUPPORTED", "unsupported timestamp schema");
  }
  expect_file_problem(file("orvelant/timestamp/v1", 0), "TIMESTAMP_PARSE", "timestamp file must hold 1 to 4 tokens");
  expect_file_problem(file("orvelant/timestamp/v1", 5), "TIMESTAMP_PARSE", "timestamp file must hold 1 to 4 tokens");
}

TEST(StampFile, TokenFailuresAccumulateInOrder) {
  const auto& a = authorities();
  const std::string good = b64(token(a.ec));
  const auto entry = [](const std::string& tsa, const std::string& text) {
    return "{\"tsa\":\"" + tsa + "\",\"token_b64\":\"" + text + "\"}";
  };
  const std::string text = "{\"schema\":\"orvelant/timestamp/v1\",\"tokens\":[" + entry("beta", good) + "," +
                           entry("Beta", good.substr(0, good.size() - 4) + "\\n" + good.substr(good.size() - 4)) + "," +
                           entry("Beta", good) + "," + entry("Beta", b64(token(a.ec, 0, "another file"))) + "]}";
  const TimestampReport report = judged(text);
  EXPECT_EQ(report.outcome, Outcome::Invalid);
  ASSERT_EQ(report.problems.size(), 3u);
  EXPECT_EQ(report.problems[0],
            (Problem{"TIMESTAMP_UNKNOWN_TSA", "'beta' is not a timestamp authority pinned in this verifier", 0}));
  EXPECT_EQ(report.problems[1], (Problem{"TIMESTAMP_PARSE", "token is not standard base64", 0}));
  EXPECT_EQ(report.problems[2],
            (Problem{"TIMESTAMP_IMPRINT_MISMATCH", "the timestamp is for a different file (hash mismatch)", 0}));
  // The token that verified is still listed, but the file gets no time.
  ASSERT_EQ(report.stamps.size(), 1u);
  EXPECT_EQ(report.stamps[0].tsa, "Beta");
  EXPECT_FALSE(report.no_later_than);
}

TEST(StampFile, Base64MustBeCanonicalStandard) {
  const std::string text = b64(token(authorities().ec));
  const auto with_b64 = [](const std::string& value) {
    return "{\"schema\":\"orvelant/timestamp/v1\",\"tokens\":[{\"tsa\":\"Beta\",\"token_b64\":\"" + value + "\"}]}";
  };
  ASSERT_TRUE(judged(with_b64(text)).valid);
  // A line break, missing padding, non-zero unused bits, the URL-safe alphabet.
  for (const std::string& bad : {text.substr(0, 64) + "\\n" + text.substr(64), std::string("QQ"), std::string("QR=="),
                                 std::string("-_-_"), text + "===="}) {
    expect_one_problem(judged(with_b64(bad)), "TIMESTAMP_PARSE", "token is not standard base64");
  }
}

TEST(StampFile, AnAuthorityNeverVouchesForAnother) {
  const auto& a = authorities();
  // Alpha's token named as Beta's: Beta's root does not issue Alpha's chain.
  const TimestampReport report = judged(stamp_file({{"Beta", token(a.rsa)}}));
  expect_one_problem(report, "TIMESTAMP_CHAIN_INVALID", "the signer does not chain to the pinned TSA root");
  // And a policy that differs is told as such.
  std::vector<PinnedAuthority> table = a.table;
  table[1].policy = "1.2.3.4";
  const TimestampReport policy = verify_stamp_file(kFile, stamp_file({{"Beta", token(a.ec)}}), table, kNow);
  expect_one_problem(policy, "TIMESTAMP_POLICY", std::string("TSA policy ") + kTestPolicy + " is not the pinned Beta policy");
}

}  // namespace
}  // namespace orv::tsa
