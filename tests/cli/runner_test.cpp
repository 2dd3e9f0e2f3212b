// The command line in-process with stand-in verifiers: what each verifier receives, when the
// clock is read, and how its verdict becomes output and exit status.
#include <gtest/gtest.h>

#include "api/render_json.h"
#include "api/render_text.h"
#include "cli_support.h"

namespace orv::cli {
using namespace api;
namespace {

using test::run_with;
using test::TempDir;

class Runner : public ::testing::Test {
 protected:
  // Fails the test if a command that judges no time reads the clock.
  static uint64_t forbidden_clock() {
    ADD_FAILURE() << "clock read";
    return 0;
  }
  Clock counting_clock() {
    return [this] {
      ++clock_reads_;
      return uint64_t{1738310709};
    };
  }

  TempDir dir_;
  int clock_reads_ = 0;
  const std::string doc_ = dir_.write("doc", "document");
  const std::string key_ = dir_.write("key", "key");
  const std::string snapshot_ = dir_.write("snapshot", "snap");
  const std::string expected_ = dir_.write("expected", "exp");
  const std::string expected2_ = dir_.write("expected2", "exp2");
};

TEST_F(Runner, ReceiptVerdictIsRenderedWithItsStatus) {
  sig::ReceiptVerdict verdict;
  verdict.outcome = Outcome::Invalid;
  verdict.scope = "S";
  Verifiers v;
  v.receipt = [&](const ReceiptInputs& in) {
    EXPECT_EQ(in.document, "document");
    EXPECT_EQ(in.key, "key");
    return verdict;
  };
  auto r = run_with({"receipt", doc_, "--key", key_}, v, forbidden_clock);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, render_text(verdict, doc_));
  EXPECT_EQ(r.err, "");
  r = run_with({"--json", "receipt", doc_, "--key", key_, "--json"}, v, forbidden_clock);
  EXPECT_EQ(r.out, render_json(verdict));

  // Without --key the verifier gets empty key text and judges the missing pin itself.
  v.receipt = [](const ReceiptInputs& in) {
    EXPECT_EQ(in.key, "");
    return sig::ReceiptVerdict{};
  };
  EXPECT_EQ(run_with({"receipt", doc_}, v, forbidden_clock).status, 2);
}

TEST_F(Runner, UnavailableChecksSayWhatIsMissing) {
  auto r = run_with({"receipt", doc_, "--key", key_}, Verifiers{}, forbidden_clock);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "error: receipt is not available in this build yet\n");

  r = run_with({"key-receipt", doc_, "--snapshot", snapshot_, "--expected", expected_}, Verifiers{}, counting_clock());
  EXPECT_EQ(r.err, "error: key-receipt is not available in this build yet\n");
  EXPECT_EQ(clock_reads_, 0);
}

TEST_F(Runner, KeyReceiptReadsTheClockOnceAfterItsInputs) {
  Verifiers v;
  v.key_receipt = [&](const KeyReceiptInputs& in, uint64_t now) {
    EXPECT_EQ(clock_reads_, 1);
    EXPECT_EQ(now, 1738310709u);
    EXPECT_EQ(in.document, "document");
    EXPECT_EQ(in.key, "");
    EXPECT_EQ(in.snapshot, "snap");
    EXPECT_EQ(in.expected, "exp");
    tdx::Level2Report report;
    report.outcome = Outcome::Valid;
    report.valid = true;
    return report;
  };
  const auto r = run_with({"key-receipt", doc_, "--snapshot", snapshot_, "--expected", expected_}, v, counting_clock());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.starts_with("VALID  " + doc_ + "  (Level 2, Intel TDX leg)\n")) << r.out;
  EXPECT_EQ(clock_reads_, 1);

  // A failed read ends the run before the clock or the verifier.
  EXPECT_EQ(run_with({"key-receipt", doc_, "--snapshot", snapshot_, "--expected", dir_.path("none")}, v, counting_clock()).status,
            2);
  EXPECT_EQ(clock_reads_, 1);
}

TEST_F(Runner, ChainAndLogEvidenceNeverReadTheClock) {
  const std::string head1 = dir_.write("h1", "one");
  const std::string head2 = dir_.write("h2", "two");
  Verifiers v;
  v.chain = [](const ChainInputs& in) {
    EXPECT_EQ(in.heads, (std::vector<std::string>{"one", "two", "one"}));
    sig::ChainReport report;
    report.outcome = Outcome::Refused;
    return report;
  };
  v.log_evidence = [](const LogEvidenceInputs& in) {
    EXPECT_EQ(in.receipt, "document");
    EXPECT_EQ(in.evidence, "exp");
    tdx::LogEvidenceReport report;
    report.valid = true;
    return report;
  };
  EXPECT_EQ(run_with({"chain", doc_, "--head", head1, "--head", head2, "--head", head1}, v, forbidden_clock).status, 2);
  const auto r = run_with({"log-evidence", doc_, "--evidence", expected_}, v, forbidden_clock);
  EXPECT_EQ(r.status, 0);  // follows `valid`, whatever the outcome says
  EXPECT_TRUE(r.out.starts_with("VALID  " + doc_ + "  (public-log evidence)\n")) << r.out;
}

TEST_F(Runner, TimestampGetsTheExactBytes) {
  const std::string bytes = dir_.write("bin", std::string("\xff\x00\xfe", 3));
  const std::string stamp = dir_.write("stamp", "{}");
  Verifiers v;
  v.timestamp = [&](const TimestampInputs& in, uint64_t) {
    EXPECT_EQ(in.document, std::string("\xff\x00\xfe", 3));
    EXPECT_EQ(in.stamp, "{}");
    tsa::TimestampReport report;
    report.outcome = Outcome::Invalid;
    return report;
  };
  EXPECT_EQ(run_with({"timestamp", bytes, "--stamp", stamp}, v, counting_clock()).status, 1);
  EXPECT_EQ(clock_reads_, 1);
}

TEST_F(Runner, KeyChainKeepsListOrderAndFollowsValid) {
  const std::string c1 = dir_.write("c1", "kept1");
  const std::string c2 = dir_.write("c2", "kept2");
  Verifiers v;
  v.key_chain = [&](const KeyChainInputs& in, uint64_t) {
    EXPECT_EQ(in.history, "document");
    EXPECT_EQ(in.contains, (std::vector<std::string>{"kept2", "kept1"}));
    EXPECT_EQ(in.snapshot, "snap");
    EXPECT_EQ(in.expected, (std::vector<std::string>{"exp2", "exp"}));
    tdx::KeyChainReport report;
    report.outcome = Outcome::Valid;  // `valid` decides
    return report;
  };
  const auto r = run_with({"key-chain", doc_, "--contains", c2, "--expected", expected2_, "--snapshot", snapshot_, "--contains",
                           c1, "--expected", expected_},
                          v, counting_clock());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.starts_with("INVALID  " + doc_ + "  (key-receipt history, 0 boots, hash links only)\n"));
  EXPECT_EQ(clock_reads_, 1);

  v.key_chain = [](const KeyChainInputs& in, uint64_t) {
    EXPECT_FALSE(in.snapshot);
    EXPECT_TRUE(in.expected.empty());
    return tdx::KeyChainReport{};
  };
  EXPECT_EQ(run_with({"key-chain", doc_}, v, counting_clock()).status, 1);
}

TEST_F(Runner, AttestedRecordPassesTheOptionalStamp) {
  const std::string kr = dir_.write("kr", "receipt");
  const std::string stamp = dir_.write("stamp", "stamp");
  std::optional<std::string> seen;
  Verifiers v;
  v.attested_record = [&](const AttestedRecordInputs& in, uint64_t) {
    EXPECT_EQ(in.record, "document");
    EXPECT_EQ(in.key_receipt, "receipt");
    EXPECT_EQ(in.snapshot, "snap");
    EXPECT_EQ(in.expected, "exp");
    seen = in.stamp;
    tdx::AttestedRecordReport report;
    report.outcome = Outcome::Valid;
    return report;
  };
  const std::vector<std::string> args{"attested-record", doc_,      "--key-receipt", kr,
                                      "--snapshot",      snapshot_, "--expected",    expected_};
  EXPECT_EQ(run_with(args, v, counting_clock()).status, 0);
  EXPECT_EQ(seen, std::nullopt);
  auto with_stamp = args;
  with_stamp.insert(with_stamp.end(), {"--stamp", stamp, "--json"});
  const auto r = run_with(with_stamp, v, counting_clock());
  EXPECT_EQ(seen, "stamp");
  EXPECT_TRUE(r.out.starts_with("{\n  \"outcome\": \"valid\",\n")) << r.out;
}

}  // namespace
}  // namespace orv::cli
