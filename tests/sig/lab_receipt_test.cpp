#include <gtest/gtest.h>

#include <string>

#include "json/document.h"
#include "sig/lab_receipt.h"
#include "sig/receipt.h"
#include "sig/scope.h"
#include "support/notary.h"
#include "support/printers.h"

namespace orv::sig {
namespace {

using test::LabReceiptBuilder;
using test::P384TestKey;

std::vector<std::string> codes(const ReceiptVerdict& verdict) {
  std::vector<std::string> out;
  for (const Problem& p : verdict.problems) out.emplace_back(p.code.text());
  return out;
}

class LabReceipt : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    notary_ = new P384TestKey();
    agent_ = new P384TestKey();
  }
  static void TearDownTestSuite() {
    delete notary_;
    delete agent_;
  }

  LabReceiptBuilder builder() { return LabReceiptBuilder(*notary_, *agent_); }
  static ReceiptVerdict judge(const std::string& text, const std::string& key) {
    ReceiptVerdict verdict = check_receipt(text, key);
    EXPECT_EQ(verdict.format, ReceiptFormat::LabReceipt);
    return verdict;
  }
  ReceiptVerdict judge(LabReceiptBuilder& b) { return judge(b.text(), notary_->public_pem()); }

  static P384TestKey* notary_;
  static P384TestKey* agent_;
};
P384TestKey* LabReceipt::notary_ = nullptr;
P384TestKey* LabReceipt::agent_ = nullptr;

TEST_F(LabReceipt, ValidReceiptVerifiesWithFactsAndIntermediates) {
  LabReceiptBuilder b = builder();
  b.finish();
  const ReceiptVerdict verdict = judge(b);
  EXPECT_TRUE(verdict.problems.empty()) << verdict.problems[0].message;
  EXPECT_EQ(verdict.outcome, Outcome::Valid);
  EXPECT_EQ(verdict.scope, kLabReceiptScope);
  EXPECT_EQ(verdict.facts.at("receipt_hash"), b.receipt_hash());
  EXPECT_EQ(verdict.facts.at("prev_receipt_hash"), "GENESIS");
  EXPECT_EQ(verdict.facts.at("billable_units"), "12");
  EXPECT_EQ(verdict.facts.at("tier"), "confidential");
  EXPECT_EQ(verdict.facts.size(), 10u);
  EXPECT_EQ(verdict.intermediate.at("signed_bytes_sha384"), b.receipt_hash());
  EXPECT_EQ(verdict.intermediate.at("pinned_key_sha256"), verdict.intermediate.at("embedded_key_sha256"));
  EXPECT_EQ(verdict.intermediate.size(), 4u);
}

TEST_F(LabReceipt, PinIsReadBeforeTheDocument) {
  LabReceiptBuilder b = builder();
  b.finish();
  EXPECT_EQ(judge(b.text(), " \n").problems,
            (std::vector<Problem>{{"PIN_MISSING", "refusing to verify without a pinned notary key"}}));
  const std::string invalid = "the pinned key is not a P-384 public key in PEM form; lab receipts need the notary key";
  for (const std::string& pin : {std::string("-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n"),
                                 std::string("not a key"), std::string(1, 'x')}) {
    const ReceiptVerdict verdict = judge(b.text(), pin);
    EXPECT_EQ(verdict.problems, (std::vector<Problem>{{"PIN_INVALID", invalid}}));
    EXPECT_EQ(verdict.outcome, Outcome::Refused);
  }
  EXPECT_EQ(judge("{\"core\":1,\"broker_signature_hex\":2}", notary_->public_pem()).problems[0].code, "PARSE");
}

TEST_F(LabReceipt, RewrappedPinStillMatchesTheEmbeddedKey) {
  LabReceiptBuilder b = builder();
  b.finish();
  std::string pem = notary_->public_pem();
  std::string crlf;
  for (char c : pem) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(judge(b.text(), crlf).outcome, Outcome::Valid);
}

TEST_F(LabReceipt, ForeignNotaryIsInvalidNotRefused) {
  P384TestKey other;
  LabReceiptBuilder b(other, *agent_);
  b.finish();
  const ReceiptVerdict verdict = judge(b);
  EXPECT_EQ(codes(verdict), (std::vector<std::string>{"COUNTERSIGNATURE_INVALID", "EMBEDDED_KEY_MISMATCH"}));
  EXPECT_EQ(verdict.outcome, Outcome::Invalid);
}

TEST_F(LabReceipt, SchemaOfEveryPartIsChecked) {
  LabReceiptBuilder b = builder();
  b.set(b.part("execution"), "schema", "tamsel-fabric/records/v3");
  b.finish();
  const ReceiptVerdict verdict = judge(b);
  EXPECT_EQ(verdict.problems,
            (std::vector<Problem>{{"UNSUPPORTED_SCHEMA",
                                   "execution record carries unsupported schema 'tamsel-fabric/records/v3' \u2014 this "
                                   "verifier accepts [\"tamsel-fabric/records/v2\"]; unknown versions are rejected, "
                                   "never best-effort verified"}}));
}

TEST_F(LabReceipt, ChangedManifestBreaksEveryLinkToIt) {
  LabReceiptBuilder b = builder();
  b.finish();
  b.set(b.part("manifest"), "workload", "something else");
  const ReceiptVerdict verdict = judge(b);
  EXPECT_EQ(codes(verdict), (std::vector<std::string>{"HASH_MISMATCH", "COUNTERSIGNATURE_INVALID", "LINKAGE", "LINKAGE"}));
  EXPECT_EQ(verdict.problems[2].message.rfind("attestation.manifest_hash ", 0), 0u);
  EXPECT_EQ(verdict.problems[3].message.rfind("execution.manifest_hash ", 0), 0u);
}

TEST_F(LabReceipt, EachCheckReportsAloneOnAnOtherwiseValidReceipt) {
  struct Case {
    const char* name;
    void (*edit)(LabReceiptBuilder&);
    bool relink;  // recompute links and the agent signature after the edit
    Problem expected;
  };
  const std::vector<Case> cases = {
      {"attestation hash",
       [](LabReceiptBuilder& b) { b.set(b.part("execution"), "attestation_hash", "00"); },
       false,
       {"LINKAGE", ""}},
      {"attestation id",
       [](LabReceiptBuilder& b) { b.set(b.part("execution"), "attestation_id", "att-x"); },
       true,
       {"LINKAGE", "execution.attestation_id does not match the attestation"}},
      {"agent id",
       [](LabReceiptBuilder& b) { b.set(b.part("execution"), "agent_id", "agent-x"); },
       true,
       {"LINKAGE", "execution.agent_id does not match the attested agent"}},
      {"job id",
       [](LabReceiptBuilder& b) { b.set(b.core(), "job_id", "job-x"); },
       true,
       {"LINKAGE", "job_id disagrees across the receipt"}},
      {"manifest job id",
       [](LabReceiptBuilder& b) { b.set(b.part("manifest"), "job_id", "job-x"); },
       true,
       {"LINKAGE", "job_id disagrees across the receipt"}},
      {"policy hash",
       [](LabReceiptBuilder& b) { b.set(b.part("attestation"), "policy_hash", " \t"); },
       true,
       {"POLICY_HASH_MISSING", "attestation carries no policy_hash"}},
      {"enforcement hash",
       [](LabReceiptBuilder& b) { b.set(b.part("attestation"), "enforcement_profile_hash", ""); },
       true,
       {"ENFORCEMENT_HASH_MISSING", "attestation carries no enforcement_profile_hash (D3)"}},
      {"meter timestamps",
       [](LabReceiptBuilder& b) { b.set(b.part("meter"), "release_ts", ""); },
       true,
       {"METER", "meter is missing broker timestamps (D6)"}},
      {"meter backwards",
       [](LabReceiptBuilder& b) {
         b.set(b.part("meter"), "release_ts", "2025-01-02");
         b.set(b.part("meter"), "complete_ts", "2025-01-01T00:00:00Z");
       },
       true,
       {"METER", "meter window runs backwards: release 2025-01-02 > complete 2025-01-01T00:00:00Z"}},
      {"zero units",
       [](LabReceiptBuilder& b) { b.part("meter")["billable_units"].SetUint64(0); },
       true,
       {"METER", "meter bills zero units for a completed job (D6)"}},
      {"tier",
       [](LabReceiptBuilder& b) { b.set(b.part("meter"), "tier", "Standard"); },
       true,
       {"METER", "meter tier 'Standard' is not a known tier"}},
      {"embedded key",
       [](LabReceiptBuilder& b) { b.set(b.core(), "broker_pub_pem", P384TestKey().public_pem()); },
       true,
       {"EMBEDDED_KEY_MISMATCH",
        "receipt's embedded broker_pub_pem does not match the pinned key (embedded keys are never trusted \u2014 D2)"}},
      {"agent signature",
       [](LabReceiptBuilder& b) { b.set(b.part("attestation"), "agent_sig_pub_pem", "x"); },
       true,
       {"AGENT_SIGNATURE_INVALID", "execution record signature is invalid under the attested agent key"}},
  };
  for (const Case& c : cases) {
    LabReceiptBuilder b = builder();
    if (c.relink) {
      c.edit(b);
      b.finish();
    } else {
      b.link().sign_execution();
      c.edit(b);
      b.sign_execution().seal();
    }
    const ReceiptVerdict verdict = judge(b);
    ASSERT_EQ(verdict.problems.size(), 1u) << c.name << ": " << verdict.problems[0].message;
    EXPECT_EQ(verdict.problems[0].code, c.expected.code) << c.name;
    if (!c.expected.message.empty()) {
      EXPECT_EQ(verdict.problems[0].message, c.expected.message) << c.name;
    }
    EXPECT_EQ(verdict.outcome, Outcome::Invalid) << c.name;
  }
}

TEST_F(LabReceipt, SignatureEncodings) {
  LabReceiptBuilder b = builder();
  b.finish();
  const std::string signature = b.receipt["broker_signature_hex"].GetString();
  std::string upper = signature;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  b.set(b.receipt, "broker_signature_hex", upper);
  EXPECT_EQ(judge(b).problems,
            (std::vector<Problem>{{"SIGNATURE_NOT_CANONICAL",
                                   "broker_signature_hex is not lowercase hex; issued signatures are always lowercase"}}));
  b.set(b.receipt, "broker_signature_hex", signature.substr(1));
  EXPECT_EQ(codes(judge(b)), std::vector<std::string>{"SIGNATURE_NOT_HEX"});
  // 95 and 97 bytes are hex, so they fail as signatures, not as encodings.
  b.set(b.receipt, "broker_signature_hex", signature.substr(2));
  EXPECT_EQ(codes(judge(b)), std::vector<std::string>{"COUNTERSIGNATURE_INVALID"});
  b.set(b.receipt, "broker_signature_hex", signature + "00");
  EXPECT_EQ(codes(judge(b)), std::vector<std::string>{"COUNTERSIGNATURE_INVALID"});
  b.set(b.receipt, "broker_signature_hex", std::string(192, '0'));
  EXPECT_EQ(codes(judge(b)), std::vector<std::string>{"COUNTERSIGNATURE_INVALID"});

  LabReceiptBuilder e = builder();
  e.link().sign_execution();
  std::string execution = e.core()["execution_signature"].GetString();
  e.set(e.core(), "execution_signature", "zz" + execution.substr(2));
  e.seal();
  EXPECT_EQ(judge(e).problems, (std::vector<Problem>{{"SIGNATURE_NOT_HEX", "execution signature is not hex"}}));
  for (char& c : execution) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  e.set(e.core(), "execution_signature", execution);
  e.seal();
  EXPECT_EQ(judge(e).problems,
            (std::vector<Problem>{{"SIGNATURE_NOT_CANONICAL",
                                   "core.execution_signature is not lowercase hex; issued signatures are always "
                                   "lowercase"}}));
}

TEST_F(LabReceipt, UncanonicalisableCoreIsReportedAtEachStepThatNeedsIt) {
  LabReceiptBuilder b = builder();
  b.finish();
  b.part("meter")["billable_units"].SetUint64(9007199254740993ull);
  const ReceiptVerdict verdict = judge(b);
  EXPECT_EQ(codes(verdict), (std::vector<std::string>{"CANONICALIZATION", "CANONICALIZATION"}));
  EXPECT_EQ(verdict.problems[0].message.rfind("receipt core not canonicalizable: value is not JCS-serializable: ", 0), 0u);
  EXPECT_EQ(verdict.intermediate.count("signed_bytes_len"), 0u);

  // The attestation's free-form lists can hold such a number too: its link step reports that
  // instead of comparing a hash of bytes it could not produce.
  LabReceiptBuilder a = builder();
  a.finish();
  a.part("attestation")["verdicts"].PushBack(rapidjson::Value(uint64_t{9007199254740993ull}), a.receipt.GetAllocator());
  const ReceiptVerdict attestation = judge(a);
  EXPECT_EQ(codes(attestation), (std::vector<std::string>{"CANONICALIZATION", "CANONICALIZATION", "CANONICALIZATION"}));
  EXPECT_TRUE(attestation.problems[2].message.starts_with("attestation not canonicalizable: value is not JCS-serializable: "));
  EXPECT_EQ(attestation.outcome, Outcome::Invalid);
}

}  // namespace
}  // namespace orv::sig
