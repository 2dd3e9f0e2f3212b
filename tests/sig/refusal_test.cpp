#include <gtest/gtest.h>

#include <string>

#include "sig/receipt.h"
#include "sig/scope.h"
#include "support/notary.h"
#include "support/printers.h"

namespace orv::sig {
namespace {

using test::P384TestKey;
using test::RefusalBuilder;

class Refusal : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { notary_ = new P384TestKey(); }
  static void TearDownTestSuite() { delete notary_; }

  static ReceiptVerdict judge(const std::string& text, const std::string& key) {
    ReceiptVerdict verdict = check_receipt(text, key);
    EXPECT_EQ(verdict.format, ReceiptFormat::Refusal);
    return verdict;
  }
  static ReceiptVerdict judge(const RefusalBuilder& b) { return judge(b.text(), notary_->public_pem()); }
  static std::vector<Problem> problems_of(const RefusalBuilder& b) { return judge(b).problems; }

  static P384TestKey* notary_;
};
P384TestKey* Refusal::notary_ = nullptr;

TEST_F(Refusal, ValidRefusalVerifiesWithItsFacts) {
  RefusalBuilder b(*notary_);
  b.seal();
  const ReceiptVerdict verdict = judge(b);
  EXPECT_TRUE(verdict.problems.empty());
  EXPECT_EQ(verdict.outcome, Outcome::Valid);
  EXPECT_EQ(verdict.scope, kRefusalScope);
  EXPECT_EQ(verdict.format, ReceiptFormat::Refusal);
  EXPECT_EQ(verdict.facts.at("reasons"), "quote too old; tcb out of date");
  EXPECT_EQ(verdict.facts.at("released"), "false");
  EXPECT_EQ(verdict.facts.at("refusal_hash"), b.refusal_hash());
  EXPECT_EQ(verdict.facts.size(), 12u);
  EXPECT_EQ(verdict.intermediate.size(), 3u);
}

TEST_F(Refusal, ClaimsAreJudgedEvenUnderAValidSignature) {
  RefusalBuilder released(*notary_);
  released.core()["released"].SetBool(true);
  released.seal();
  EXPECT_EQ(problems_of(released), (std::vector<Problem>{{"REFUSAL_CLAIMS_RELEASE", "a refusal must state released: false"}}));

  RefusalBuilder reason(*notary_);
  reason.set("reason_code", "CHANGED_MIND");
  reason.seal();
  EXPECT_EQ(problems_of(reason),
            (std::vector<Problem>{{"UNKNOWN_REASON_CODE", "reason_code 'CHANGED_MIND' is not one this verifier knows"}}));

  RefusalBuilder empty(*notary_);
  empty.core()["reasons"].SetArray();
  empty.seal();
  EXPECT_EQ(judge(empty).facts.at("reasons"), "");
}

TEST_F(Refusal, SignatureCoversTheSchemaLine) {
  RefusalBuilder b(*notary_);
  b.seal();
  const std::string bare = notary_->sign_hex(test::canonical(b.core()));
  b.refusal["broker_signature_hex"].SetString(bare.c_str(), b.refusal.GetAllocator());
  EXPECT_EQ(problems_of(b),
            (std::vector<Problem>{{"REFUSAL_SIGNATURE_INVALID", "refusal signature is INVALID under the pinned key"}}));
}

TEST_F(Refusal, HashKeyAndEncodingFaults) {
  RefusalBuilder hash(*notary_);
  hash.seal();
  hash.refusal["refusal_hash"].SetString("00", hash.refusal.GetAllocator());
  const std::vector<Problem> hash_problems = problems_of(hash);
  ASSERT_EQ(hash_problems.size(), 1u);
  EXPECT_EQ(hash_problems[0].message,
            "refusal hash mismatch: claimed 00, recomputed " + test::sha384_hex_of(test::canonical(hash.core())));

  // Detection needs the v1 schema: any other is a lab receipt by shape (a refusal chain checks
  // the refusal's own schema rule).
  RefusalBuilder schema(*notary_);
  schema.set("schema", "tamsel-fabric/refusal/v2");
  schema.seal();
  EXPECT_EQ(check_receipt(schema.text(), notary_->public_pem()).format, ReceiptFormat::LabReceipt);

  RefusalBuilder upper(*notary_);
  upper.seal();
  std::string signature = upper.refusal["broker_signature_hex"].GetString();
  for (char& c : signature) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  upper.refusal["broker_signature_hex"].SetString(signature.c_str(), upper.refusal.GetAllocator());
  EXPECT_EQ(problems_of(upper), (std::vector<Problem>{{"SIGNATURE_NOT_CANONICAL", "broker_signature_hex is not lowercase hex"}}));

  upper.refusal["broker_signature_hex"].SetString("abc", upper.refusal.GetAllocator());
  EXPECT_EQ(problems_of(upper), (std::vector<Problem>{{"SIGNATURE_NOT_HEX", "broker_signature_hex is not hex"}}));

  RefusalBuilder key(*notary_);
  key.set("broker_pub_pem", P384TestKey().public_pem());
  key.seal();
  EXPECT_EQ(problems_of(key),
            (std::vector<Problem>{{"EMBEDDED_KEY_MISMATCH",
                                   "the refusal's embedded broker_pub_pem does not match the pinned key (embedded "
                                   "keys are never trusted)"}}));
}

TEST_F(Refusal, PinAndShape) {
  RefusalBuilder b(*notary_);
  b.seal();
  EXPECT_EQ(judge(b.text(), "").problems[0].code, "PIN_MISSING");
  EXPECT_EQ(judge(b.text(), "garbage").problems,
            (std::vector<Problem>{
                {"PIN_INVALID", "the pinned key is not a P-384 public key in PEM form; refusals need the notary key"}}));
  b.core().AddMember("extra", 1, b.refusal.GetAllocator());
  const ReceiptVerdict verdict = judge(b);
  ASSERT_EQ(verdict.problems.size(), 1u);
  EXPECT_EQ(verdict.problems[0].code, "PARSE");
  EXPECT_EQ(verdict.problems[0].message.rfind("refusal does not parse: unknown field `extra`", 0), 0u);
  EXPECT_EQ(verdict.outcome, Outcome::Invalid);
}

TEST_F(Refusal, ReasonsHoldOnlyStrings) {
  RefusalBuilder b(*notary_);
  b.seal();
  b.core()["reasons"].PushBack(rapidjson::Value(5), b.refusal.GetAllocator());
  const ReceiptVerdict verdict = judge(b);
  ASSERT_EQ(verdict.problems.size(), 1u);
  EXPECT_EQ(verdict.problems[0].message.rfind("refusal does not parse: invalid type: integer `5`, expected a string", 0), 0u)
      << verdict.problems[0].message;
}

}  // namespace
}  // namespace orv::sig
