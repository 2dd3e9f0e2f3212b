// TCB evaluation: the status merge, platform level matching, the TDX module identity and the
// acceptance policy, through the whole verification where the TCB info decides, and directly
// where only the policy does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dcap/tcb.h"
#include "dcap/verify.h"
#include "support/intel_pki.h"

namespace orv::dcap {
namespace {

using test::DcapScenario;
using test::IsvLevelDraft;
using test::QuoteKind;
using test::TcbLevelDraft;
using S = TcbStatus;

constexpr uint8_t kAcceptAll = 0x3F;

Expected<VerifiedQuote, dcap::Failure> verify(const DcapScenario& s, const AcceptancePolicy& policy = {}) {
  return verify_and_accept(s.quote(), s.collateral(), s.root_der(), s.now, policy);
}

std::string failure_of(const DcapScenario& s, const AcceptancePolicy& policy = {}) {
  Expected<VerifiedQuote, dcap::Failure> result = verify(s, policy);
  return result ? "valid" : result.error().text();
}

AcceptancePolicy accept_all() {
  AcceptancePolicy policy;
  policy.accepted_statuses = kAcceptAll;
  policy.platform_grace_period = UINT64_MAX;
  policy.qe_grace_period = UINT64_MAX;
  return policy;
}

TcbLevelDraft level(std::vector<uint8_t> sgx, uint16_t pcesvn, std::string status,
                    std::optional<std::vector<uint8_t>> tdx = std::vector<uint8_t>(16, 0)) {
  TcbLevelDraft out;
  out.sgx = std::move(sgx);
  out.pcesvn = pcesvn;
  out.tdx = std::move(tdx);
  out.status = std::move(status);
  return out;
}

std::vector<uint8_t> svns(uint8_t first, size_t count = 16) {
  std::vector<uint8_t> out(count, 0);
  out[0] = first;
  return out;
}

TEST(TcbStatusMerge, IsAsymmetricForOutOfDateAndConfiguration) {
  EXPECT_EQ(merge_tcb_status(S::ConfigurationNeeded, S::OutOfDate), S::OutOfDateConfigurationNeeded);
  EXPECT_EQ(merge_tcb_status(S::ConfigurationAndSWHardeningNeeded, S::OutOfDate), S::OutOfDateConfigurationNeeded);
  EXPECT_EQ(merge_tcb_status(S::OutOfDate, S::ConfigurationNeeded), S::OutOfDate);
  EXPECT_EQ(merge_tcb_status(S::OutOfDate, S::ConfigurationAndSWHardeningNeeded), S::OutOfDate);
  EXPECT_EQ(merge_tcb_status(S::SWHardeningNeeded, S::ConfigurationNeeded), S::ConfigurationNeeded);
  EXPECT_EQ(merge_tcb_status(S::ConfigurationNeeded, S::SWHardeningNeeded), S::ConfigurationNeeded);
  EXPECT_EQ(merge_tcb_status(S::UpToDate, S::SWHardeningNeeded), S::SWHardeningNeeded);
  EXPECT_EQ(merge_tcb_status(S::OutOfDateConfigurationNeeded, S::OutOfDate), S::OutOfDateConfigurationNeeded);
  for (int i = 0; i <= 6; ++i) {
    const auto status = static_cast<S>(i);
    EXPECT_EQ(merge_tcb_status(status, S::Revoked), S::Revoked) << i;
    EXPECT_EQ(merge_tcb_status(S::Revoked, status), S::Revoked) << i;
    EXPECT_EQ(merge_tcb_status(status, S::UpToDate), status) << i;
    EXPECT_EQ(merge_tcb_status(status, status), status) << i;
  }
}

TEST(TcbStatusNames, FollowTheDeclarationOrder) {
  const char* names[] = {"UpToDate",
                         "OutOfDateConfigurationNeeded",
                         "OutOfDate",
                         "ConfigurationAndSWHardeningNeeded",
                         "ConfigurationNeeded",
                         "SWHardeningNeeded",
                         "Revoked"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(tcb_status_name(static_cast<S>(i)), names[i]);
    EXPECT_EQ(tcb_status_from_name(names[i]), static_cast<S>(i));
  }
  EXPECT_FALSE(tcb_status_from_name("uptodate"));
}

TEST(PlatformTcbLevel, TheFirstLevelMetInListOrderWins) {
  DcapScenario s(QuoteKind::TdxV4);
  s.pck.cpusvn = {5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  s.tcb_info.levels = {level(svns(6), 13, "UpToDate"), level(svns(5), 13, "ConfigurationNeeded"),
                       level(svns(4), 13, "SWHardeningNeeded")};
  Expected<VerifiedQuote, dcap::Failure> result = verify(s, accept_all());
  ASSERT_TRUE(result.ok()) << result.error().text();
  EXPECT_EQ(result->platform_tcb_level.tcb_status, S::ConfigurationNeeded);
  EXPECT_EQ(result->tcb_status, S::ConfigurationNeeded);
  EXPECT_EQ(failure_of(s), "TCB status ConfigurationNeeded is not acceptable by policy");
}

TEST(PlatformTcbLevel, EverySixteenthComponentCounts) {
  DcapScenario s(QuoteKind::TdxV4);
  std::vector<uint8_t> sgx(16, 0);
  sgx[15] = 1;  // the PCK CPUSVN ends with 0
  s.tcb_info.levels = {level(sgx, 13, "UpToDate"), level(svns(0), 13, "SWHardeningNeeded")};
  Expected<VerifiedQuote, dcap::Failure> result = verify(s, accept_all());
  ASSERT_TRUE(result.ok()) << result.error().text();
  EXPECT_EQ(result->tcb_status, S::SWHardeningNeeded);

  std::vector<uint8_t> tdx(16, 0);
  tdx[15] = 1;  // the report's tee_tcb_svn ends with 0
  s.tcb_info.levels = {level(svns(0), 13, "UpToDate", tdx), level(svns(0), 13, "OutOfDate")};
  result = verify(s, accept_all());
  ASSERT_TRUE(result.ok()) << result.error().text();
  EXPECT_EQ(result->tcb_status, S::OutOfDate);
}

TEST(PlatformTcbLevel, ComponentCountsAreCheckedOnlyWhereTheSearchLooks) {
  DcapScenario s(QuoteKind::TdxV4);
  // Skipped for its PCESVN: never examined further.
  s.tcb_info.levels = {level(svns(0, 15), 14, "UpToDate"), level(svns(0), 13, "UpToDate")};
  EXPECT_EQ(failure_of(s), "valid");
  // After the match: never examined.
  s.tcb_info.levels = {level(svns(0), 13, "UpToDate"), level(svns(0, 15), 1, "OutOfDate")};
  EXPECT_EQ(failure_of(s), "valid");
  // Reached with a PCESVN not below its own: the whole verification fails.
  s.tcb_info.levels = {level(svns(0, 15), 13, "UpToDate"), level(svns(0), 13, "UpToDate")};
  EXPECT_EQ(failure_of(s), "SGX component count mismatch: expected 16, got 15");
  s.tcb_info.levels = {level(svns(0), 13, "UpToDate", std::vector<uint8_t>(15, 0))};
  EXPECT_EQ(failure_of(s), "TDX component count mismatch: expected 16, got 15");
  s.tcb_info.levels = {level(svns(0), 13, "UpToDate", std::nullopt)};
  EXPECT_EQ(failure_of(s), "TDX component count mismatch: expected 16, got 0");
  // A level the SGX components already rule out is not asked for TDX components.
  s.tcb_info.levels = {level(svns(9), 13, "UpToDate", std::nullopt), level(svns(0), 13, "UpToDate")};
  EXPECT_EQ(failure_of(s), "valid");
}

TEST(PlatformTcbLevel, NoLevelMetAndNoTdReport) {
  DcapScenario s(QuoteKind::TdxV4);
  s.tcb_info.levels = {level(svns(0), 14, "UpToDate"), level(svns(9), 1, "OutOfDate")};
  EXPECT_EQ(failure_of(s), "No matching TCB level found");

  // A version 5 TDX quote may carry an SGX report; it passes every check up to the TCB match.
  DcapScenario v5(QuoteKind::TdxV5);
  v5.quote_draft.body = Body{1, 384};
  EnclaveReport enclave;
  enclave.attributes[0] = 0x05;
  v5.quote_draft.report = enclave;
  EXPECT_EQ(failure_of(v5), "Failed to get TD10 report");
}

TEST(PlatformTcbLevel, SgxQuotesIgnoreTdxComponents) {
  DcapScenario s(QuoteKind::SgxV3);
  s.tcb_info.levels = {level(svns(0), 13, "UpToDate", std::vector<uint8_t>(3, 0))};
  EXPECT_EQ(failure_of(s), "valid");
  s.tcb_info.version = 2;
  EXPECT_EQ(failure_of(s), "valid");
}

TEST(QeTcbLevel, TheFirstLevelNotAboveTheReportWins) {
  DcapScenario s(QuoteKind::TdxV4);
  s.qe_identity.levels = {{8, "2024-03-13T00:00:00Z", "UpToDate", std::nullopt},
                          {6, "2023-03-13T00:00:00Z", "SWHardeningNeeded", std::nullopt},
                          {2, "2022-03-13T00:00:00Z", "OutOfDate", std::vector<std::string>{"INTEL-SA-00615"}}};
  s.quote_draft.qe_report.isv_svn = 5;
  Expected<VerifiedQuote, dcap::Failure> result = verify(s, accept_all());
  ASSERT_TRUE(result.ok()) << result.error().text();
  EXPECT_EQ(result->qe_tcb_level.isvsvn, 2);
  EXPECT_EQ(result->tcb_status, S::OutOfDate);
  EXPECT_EQ(result->supplemental.qe_advisory_ids, std::vector<std::string>{"INTEL-SA-00615"});
  // The QE's advisories stay apart from the platform's.
  EXPECT_TRUE(result->advisory_ids.empty());

  // A platform at UpToDate with its QE OutOfDate ends OutOfDate.
  EXPECT_EQ(failure_of(s), "TCB status OutOfDate is not acceptable by policy");
}

TEST(FinalStatus, RevokedIsNeverAccepted) {
  DcapScenario s(QuoteKind::TdxV4);
  s.qe_identity.levels[0].status = "Revoked";
  EXPECT_EQ(failure_of(s, accept_all()), "TCB status is invalid: Revoked");
  DcapScenario platform(QuoteKind::SgxV3);
  platform.tcb_info.levels[0].status = "Revoked";
  EXPECT_EQ(failure_of(platform, accept_all()), "TCB status is invalid: Revoked");
}

// The report's TDX module is SVN 6 of major version 1 (tee_tcb_svn 06 01 ...).
TEST(TdxModule, IdentityByMajorVersionMergesItsLevel) {
  DcapScenario s(QuoteKind::TdxV4);
  (*s.tcb_info.identities)[1].levels = {
      {7, "2024-03-13T00:00:00Z", "UpToDate", std::nullopt},
      {2, "2023-08-09T00:00:00Z", "OutOfDate", std::vector<std::string>{"INTEL-SA-00960", "INTEL-SA-00001"}}};
  s.tcb_info.levels[0].advisories = std::vector<std::string>{"INTEL-SA-00001"};
  Expected<VerifiedQuote, dcap::Failure> result = verify(s, accept_all());
  ASSERT_TRUE(result.ok()) << result.error().text();
  ASSERT_TRUE(result->module_tcb_level.has_value());
  EXPECT_EQ(result->module_tcb_level->status, S::OutOfDate);
  EXPECT_EQ(result->tcb_status, S::OutOfDate);
  EXPECT_EQ(result->supplemental.platform_status, S::OutOfDate);
  EXPECT_EQ(result->advisory_ids, (std::vector<std::string>{"INTEL-SA-00001", "INTEL-SA-00960"}));
  EXPECT_EQ(failure_of(s), "TCB status OutOfDate is not acceptable by policy");
}

TEST(TdxModule, IdentityIdIgnoresLetterCase) {
  DcapScenario s(QuoteKind::TdxV4);
  std::get<TdReport10>(s.quote_draft.report).tee_tcb_svn[1] = 3;
  (*s.tcb_info.identities)[0].id = "tdx_03";
  Expected<VerifiedQuote, dcap::Failure> result = verify(s);
  ASSERT_TRUE(result.ok()) << result.error().text();
  ASSERT_TRUE(result->module_tcb_level.has_value());
  EXPECT_EQ(result->module_tcb_level->status, S::UpToDate);
}

TEST(TdxModule, MajorVersionZeroUsesTdxModuleWithoutALevel) {
  DcapScenario s(QuoteKind::TdxV5);
  std::get<TdReport15>(s.quote_draft.report).base.tee_tcb_svn[1] = 0;
  s.tcb_info.identities->clear();
  Expected<VerifiedQuote, dcap::Failure> result = verify(s);
  ASSERT_TRUE(result.ok()) << result.error().text();
  EXPECT_FALSE(result->module_tcb_level.has_value());

  // Without identities at all the same holds for any major version.
  DcapScenario none(QuoteKind::TdxV4);
  none.tcb_info.identities.reset();
  result = verify(none);
  ASSERT_TRUE(result.ok()) << result.error().text();
  EXPECT_FALSE(result->module_tcb_level.has_value());
}

TEST(TdxModule, EveryMismatchIsReportedUnderTheCheck) {
  const std::string check = "TDX module identity check: ";
  struct Case {
    const char* name;
    std::function<void(DcapScenario&)> change;
    std::string expected;
  };
  const auto report = [](DcapScenario& s) -> TdReport10& { return std::get<TdReport10>(s.quote_draft.report); };
  const std::vector<Case> cases = {
      {"no tdxModule", [](DcapScenario& s) { s.tcb_info.module.reset(); }, check + "TDX TCB Info is missing tdxModule field"},
      {"module mrsigner not hex", [](DcapScenario& s) { s.tcb_info.module->mrsigner[5] = 'x'; },
       check + "Failed to decode tdxModule.mrsigner as hex: invalid character at position 5"},
      {"module attributes odd", [](DcapScenario& s) { s.tcb_info.module->attributes = "000"; },
       check + "Failed to decode tdxModule.attributes as hex: odd number of digits"},
      {"module mask short", [](DcapScenario& s) { s.tcb_info.module->mask = "FFFFFFFFFFFFFF"; },
       check + "tdxModule.attributesMask has invalid length 7, expected 8"},
      {"identity absent", [](DcapScenario& s) { (*s.tcb_info.identities)[1].id = "TDX_02"; },
       check + "No TDX module identity with id TDX_01 found in TCB Info"},
      {"identity mrsigner long", [](DcapScenario& s) { (*s.tcb_info.identities)[1].values.mrsigner += "00"; },
       check + "tdxModuleIdentity.mrsigner has invalid length 49, expected 48"},
      {"identity mrsigner differs",
       [](DcapScenario& s) { (*s.tcb_info.identities)[1].values.mrsigner = std::string(94, '0') + "01"; },
       check + "TDX module MRSIGNER mismatch: expected " + std::string(94, '0') + "01, got " + std::string(96, '0')},
      {"seam attributes differ", [&](DcapScenario& s) { report(s).seam_attributes[2] = 0x10; },
       check + "TDX module SEAMATTRIBUTES mismatch at byte 2: expected 00 (masked), got 10 (masked)"},
      {"seam attributes outside mask",
       [&](DcapScenario& s) {
         (*s.tcb_info.identities)[1].values.mask = "FFFF0FFFFFFFFFFF";
         report(s).seam_attributes[2] = 0x10;
       },
       check + "TDX module SEAMATTRIBUTES has bits set outside mask at byte 2"},
      {"module below every level",
       [](DcapScenario& s) {
         (*s.tcb_info.identities)[1].levels = {{7, "2024-03-13T00:00:00Z", "UpToDate", {}}};
       },
       check + "TDX module ISVSVN 6 is below minimum required from TDX module TCB levels"},
  };
  for (const Case& c : cases) {
    DcapScenario s(QuoteKind::TdxV4);
    c.change(s);
    EXPECT_EQ(failure_of(s), c.expected) << c.name;
  }
}

// The policy's eight tests, each alone and in its order, on values a verification produced.
Supplemental passing_values() {
  Supplemental v;
  v.final_status = S::UpToDate;
  v.platform_status = S::UpToDate;
  v.qe_status = S::UpToDate;
  v.earliest_expiration = 2000;
  v.tcb_date_tag = 500;
  v.qe_tcb_date = "1970-01-01T00:10:00Z";  // 600
  v.tcb_evaluation_data_number = 17;
  v.platform_advisory_ids = {"INTEL-SA-00001"};
  v.qe_advisory_ids = {"INTEL-SA-00002"};
  v.sgx_type = 1;
  v.dynamic_platform = true;
  v.cached_keys = true;
  v.smt_enabled = true;
  return v;
}

std::string policy_text(const AcceptancePolicy& policy, const Supplemental& values, uint64_t now) {
  const Expected<void, Failure> refused = apply_policy(policy, values, now);
  return refused.ok() ? "accepted" : refused.error().text();
}

TEST(AcceptancePolicy, Level2ValuesAcceptOnlyCurrentUpToDateCollateral) {
  AcceptancePolicy level2;
  level2.min_tcb_evaluation_data_number = 17;
  Supplemental v = passing_values();
  EXPECT_EQ(policy_text(level2, v, 2000), "accepted");
  EXPECT_EQ(policy_text(level2, v, 2001), "Collateral expired: earliest_expiration 2000 < now 2001");
  v.tcb_evaluation_data_number = 16;
  EXPECT_EQ(policy_text(level2, v, 1000), "TCB eval data number 16 is below minimum 17");
  for (const S status : {S::SWHardeningNeeded, S::ConfigurationNeeded, S::ConfigurationAndSWHardeningNeeded, S::OutOfDate,
                         S::OutOfDateConfigurationNeeded, S::Revoked}) {
    v.final_status = status;
    EXPECT_EQ(policy_text(level2, v, 1000),
              "TCB status " + std::string(tcb_status_name(status)) + " is not acceptable by policy");
  }
}

TEST(AcceptancePolicy, AcceptedStatusBitsAndRevoked) {
  EXPECT_TRUE(status_accepted(0x01, S::UpToDate));
  EXPECT_TRUE(status_accepted(0x02, S::SWHardeningNeeded));
  EXPECT_TRUE(status_accepted(0x04, S::ConfigurationNeeded));
  EXPECT_TRUE(status_accepted(0x08, S::ConfigurationAndSWHardeningNeeded));
  EXPECT_TRUE(status_accepted(0x10, S::OutOfDate));
  EXPECT_TRUE(status_accepted(0x20, S::OutOfDateConfigurationNeeded));
  EXPECT_FALSE(status_accepted(0xFF, S::Revoked));
  EXPECT_FALSE(status_accepted(0x3E, S::UpToDate));
  EXPECT_FALSE(status_accepted(0x01, S::OutOfDate));
}

TEST(AcceptancePolicy, TestsRunInOrderAndTheFirstFailureAnswers) {
  AcceptancePolicy strict;
  strict.accepted_statuses = kAcceptAll;
  strict.min_tcb_evaluation_data_number = 18;
  strict.rejected_advisory_ids = {"INTEL-SA-00002", "INTEL-SA-00001"};
  strict.allow_dynamic_platform = false;
  strict.allow_cached_keys = false;
  strict.allow_smt = false;
  strict.accepted_sgx_types = std::vector<uint32_t>{0, 2};
  Supplemental v = passing_values();
  v.platform_status = S::OutOfDate;
  v.qe_status = S::OutOfDate;

  // Peel the failures off one by one, in the documented order.
  EXPECT_EQ(policy_text(strict, v, 2001), "Collateral expired: earliest_expiration 2000 < now 2001");
  EXPECT_EQ(policy_text(strict, v, 1000), "Platform TCB too old: tcb_date_tag 500 + grace 0 < now 1000");
  strict.platform_grace_period = 500;
  EXPECT_EQ(policy_text(strict, v, 1000), "QE TCB too old: tcb_date_tag 600 + grace 0 < now 1000");
  strict.qe_grace_period = 400;
  EXPECT_EQ(policy_text(strict, v, 1000), "Advisory ID INTEL-SA-00001 is rejected by policy");
  strict.rejected_advisory_ids = {"INTEL-SA-00002"};
  EXPECT_EQ(policy_text(strict, v, 1000), "Advisory ID INTEL-SA-00002 is rejected by policy");
  strict.rejected_advisory_ids = {"intel-sa-00002"};
  EXPECT_EQ(policy_text(strict, v, 1000), "TCB eval data number 17 is below minimum 18");
  strict.min_tcb_evaluation_data_number = 17;
  EXPECT_EQ(policy_text(strict, v, 1000), "Dynamic platform is not allowed by policy");
  v.dynamic_platform = false;
  EXPECT_EQ(policy_text(strict, v, 1000), "Cached keys are not allowed by policy");
  v.cached_keys.reset();
  EXPECT_EQ(policy_text(strict, v, 1000), "SMT (hyperthreading) is not allowed by policy");
  v.smt_enabled = false;
  EXPECT_EQ(policy_text(strict, v, 1000), "SGX type 1 is not in accepted types [0, 2]");
  v.sgx_type = 2;
  EXPECT_EQ(policy_text(strict, v, 1000), "accepted");
  // A grace period past the end of time saturates instead of wrapping to a small number.
  strict.platform_grace_period = UINT64_MAX;
  strict.qe_grace_period = UINT64_MAX;
  EXPECT_EQ(policy_text(strict, v, 1999), "accepted");
}

TEST(AcceptancePolicy, AgeChecksApplyOnlyToOutOfDateStatuses) {
  AcceptancePolicy policy;
  policy.accepted_statuses = kAcceptAll;
  Supplemental v = passing_values();
  v.platform_status = S::ConfigurationNeeded;
  v.qe_status = S::SWHardeningNeeded;
  EXPECT_EQ(policy_text(policy, v, 1999), "accepted");
  v.platform_status = S::OutOfDateConfigurationNeeded;
  EXPECT_EQ(policy_text(policy, v, 501), "Platform TCB too old: tcb_date_tag 500 + grace 0 < now 501");
  EXPECT_EQ(policy_text(policy, v, 500), "accepted");
  v.platform_status = S::UpToDate;
  v.qe_status = S::OutOfDate;
  EXPECT_EQ(policy_text(policy, v, 600), "accepted");
  EXPECT_EQ(policy_text(policy, v, 601), "QE TCB too old: tcb_date_tag 600 + grace 0 < now 601");
  // The QE date is read whatever the status.
  v.qe_status = S::UpToDate;
  v.qe_tcb_date = "yesterday";
  EXPECT_EQ(policy_text(policy, v, 601), "Failed to parse QE TCB date: invalid RFC 3339 date-time");
  v.qe_tcb_date = "1969-07-20T20:17:40Z";
  EXPECT_EQ(policy_text(policy, v, 601), "Failed to parse QE TCB date: RFC3339 datetime is before Unix epoch");
}

TEST(AcceptancePolicy, EvaluationDataNumberAtTheMinimumPassesThroughTheVerification) {
  DcapScenario s(QuoteKind::TdxV4);
  s.tcb_info.evaluation_data_number = 18;
  s.qe_identity.evaluation_data_number = 17;
  AcceptancePolicy level2;
  level2.min_tcb_evaluation_data_number = 17;
  Expected<VerifiedQuote, dcap::Failure> result = verify(s, level2);
  ASSERT_TRUE(result.ok()) << result.error().text();
  EXPECT_EQ(result->tcb_evaluation_data_number, 17u);
  level2.min_tcb_evaluation_data_number = 18;
  EXPECT_EQ(failure_of(s, level2), "TCB eval data number 17 is below minimum 18");
}

TEST(AcceptancePolicy, PckFlagsAndTypeReachThePolicy) {
  DcapScenario s(QuoteKind::TdxV4);
  s.pck.dynamic_platform = false;
  s.pck.cached_keys.reset();
  s.pck.smt_enabled = true;
  s.pck.sgx_type = 0;
  AcceptancePolicy policy;
  policy.allow_dynamic_platform = false;
  policy.allow_cached_keys = false;
  policy.accepted_sgx_types = std::vector<uint32_t>{0};
  EXPECT_EQ(failure_of(s, policy), "valid");
  policy.allow_smt = false;
  EXPECT_EQ(failure_of(s, policy), "SMT (hyperthreading) is not allowed by policy");
  s.pck.configuration = false;
  EXPECT_EQ(failure_of(s, policy), "valid");
}

}  // namespace
}  // namespace orv::dcap
