// orvelant-prepare as a user runs it: plan, fetch (here: the real responses rebuilt from
// ../shared), snapshot, then orvelant-verify under a clock inside the collateral's window; the
// exit statuses, what is (never) written, and inspect.
#include <gtest/gtest.h>

#include "cli/cli_support.h"
#include "prepare/program.h"
#include "support/shared_data.h"
#include "support/tdx_saved_responses.h"

namespace orv::test {
namespace {

namespace fs = std::filesystem;

RunResult prepare(const std::vector<std::string>& args) { return run_prepare(args); }

std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A receipt around the real quote (binding a placeholder key, as the demo's), the expected-TD
// file read from that quote, and the saved responses in a folder.
struct RealRun {
  explicit RealRun(const fs::path& shared) {
    const fs::path dstack = shared / "testdata/tdx-real/tee-solver-dstack";
    key = std::string(3904, '7');
    receipt = dir.write("receipt.json", real_key_receipt(dstack, key));
    expected = dir.write("expected-td.json", real_expected_td(dstack));
    pin = dir.write("live-key.hex", key + "\n");
    fs::create_directory(dir.path("collateral"));
    for (const auto& [name, content] : real_saved_responses(dstack, {true, true})) dir.write("collateral/" + name, content);
  }
  TempDir dir;
  std::string key, receipt, expected, pin;
};

TEST(PrepareProgram, PlanSnapshotAndVerifyLeaveOnlyTheUnboundKey) {
  ORV_REQUIRE_SHARED(shared);
  RealRun run(shared);
  const RunResult plan = prepare({"collateral-plan", run.receipt, "--dir", "my collateral"});
  ASSERT_EQ(plan.status, 0) << plan.err;
  for (const char* shown : {"FMSPC:     20a06f000000", "CA type:   platform", "mkdir -p 'my collateral'",
                            "-o 'my collateral/tcb-info.body' -D 'my collateral/tcb-info.headers' "
                            "'https://api.trustedservices.intel.com/tdx/certification/v4/tcb?fmspc=20a06f000000'",
                            "https://api.trustedservices.intel.com/tdx/certification/v4/qe/identity",
                            "'https://api.trustedservices.intel.com/sgx/certification/v4/pckcrl?ca=platform&encoding=der'",
                            "https://certificates.trustedservices.intel.com/IntelSGXRootCA.der"}) {
    EXPECT_NE(plan.out.find(shown), std::string::npos) << shown << "\n" << plan.out;
  }

  const std::string snapshot = run.dir.path("snapshot.json");
  const RunResult made = prepare({"snapshot", run.dir.path("collateral"), "--out", snapshot, "--receipt", run.receipt});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_NE(made.out.find("valid until:  2025-10-02T07:03:51Z"), std::string::npos) << made.out;
  // The same folder gives the same bytes; an existing file stays as it is without --force.
  const std::string again = run.dir.path("again.json");
  ASSERT_EQ(prepare({"snapshot", run.dir.path("collateral"), "--out", again}).status, 0);
  EXPECT_EQ(read_file(again), read_file(snapshot));
  run.dir.write("again.json", "mine");
  const RunResult kept = prepare({"snapshot", run.dir.path("collateral"), "--out", again});
  EXPECT_EQ(kept.status, 1);
  EXPECT_NE(kept.err.find("already exists"), std::string::npos) << kept.err;
  EXPECT_EQ(read_file(again), "mine");
  EXPECT_EQ(prepare({"snapshot", run.dir.path("collateral"), "--out", again, "--force"}).status, 0);
  EXPECT_EQ(read_file(again), read_file(snapshot));

  if (!fs::exists("/usr/bin/faketime")) GTEST_SKIP() << "faketime is not installed";
  const RunResult verdict = run_process({"/usr/bin/faketime", "2025-09-15 12:00:00", ORV_BINARY, "key-receipt", run.receipt,
                                         "--key", run.pin, "--snapshot", snapshot, "--expected", run.expected},
                                        std::vector<std::string>{"TZ=:", "ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0"});
  EXPECT_EQ(verdict.status, 1) << verdict.err;
  size_t problems = 0;
  for (size_t at = verdict.out.find("\n  ["); at != std::string::npos; at = verdict.out.find("\n  [", at + 1)) ++problems;
  EXPECT_EQ(problems, 1u) << verdict.out;
  EXPECT_NE(verdict.out.find("\n  [KEY_NOT_BOUND]"), std::string::npos) << verdict.out;
  EXPECT_NE(verdict.out.find("TCB status (as found): UpToDate"), std::string::npos) << verdict.out;
}

TEST(PrepareProgram, ADraftedExpectedTdPinsWhatTheReceiptShowsAndCompareNamesAChange) {
  ORV_REQUIRE_SHARED(shared);
  RealRun run(shared);
  const std::string snapshot = run.dir.path("snapshot.json");
  ASSERT_EQ(prepare({"snapshot", run.dir.path("collateral"), "--out", snapshot}).status, 0);
  const std::string drafted = run.dir.path("drafted.json");
  const RunResult made = prepare({"expected-td", run.receipt, "--snapshot", snapshot, "--out", drafted});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_NE(made.err.find("*** TRUST ON FIRST USE ***"), std::string::npos) << made.err;
  EXPECT_NE(made.out.find("min_tcb_evaluation_data_number 17"), std::string::npos) << made.out;
  const RunResult same = prepare({"expected-td", "--compare", drafted, run.receipt});
  EXPECT_EQ(same.status, 0) << same.out;
  EXPECT_NE(same.out.find("every pinned value is the one found"), std::string::npos) << same.out;

  // One register changed: --compare marks it alone.
  std::string text = read_file(drafted);
  const size_t at = text.find("\"rt_mr1\":\"") + 10;
  text[at] = text[at] == '0' ? '1' : '0';
  const std::string changed = run.dir.write("changed.json", text);
  const RunResult differs = prepare({"expected-td", "--compare", changed, run.receipt});
  EXPECT_EQ(differs.status, 1);
  EXPECT_NE(differs.out.find("\n  rt_mr1  DIFFERS\n"), std::string::npos) << differs.out;
  EXPECT_NE(differs.out.find("\n1 pinned value differ: rt_mr1\n"), std::string::npos) << differs.out;
  EXPECT_EQ(prepare({"expected-td", run.receipt, "--out", drafted}).status, 2);

  if (!fs::exists("/usr/bin/faketime")) GTEST_SKIP() << "faketime is not installed";
  // The placeholder key stays unbound, as with the hand-written file; nothing else is found.
  const RunResult verdict = run_process({"/usr/bin/faketime", "2025-09-15 12:00:00", ORV_BINARY, "key-receipt", run.receipt,
                                         "--key", run.pin, "--snapshot", snapshot, "--expected", drafted},
                                        std::vector<std::string>{"TZ=:", "ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0"});
  EXPECT_EQ(verdict.out.find("MEASUREMENT_MISMATCH"), std::string::npos) << verdict.out;
  EXPECT_NE(verdict.out.find("\n  [KEY_NOT_BOUND]"), std::string::npos) << verdict.out;
  EXPECT_EQ(verdict.out.find("\n  [", verdict.out.find("\n  [") + 1), std::string::npos) << verdict.out;
}

TEST(PrepareProgram, AMistakeExitsOneAndWritesNothing) {
  ORV_REQUIRE_SHARED(shared);
  RealRun run(shared);
  const std::string out = run.dir.path("collateral/snapshot.json");
  // The root CA CRL saved in the PCK CRL's place, then a body missing.
  fs::rename(run.dir.path("collateral/pck-crl.body"), run.dir.path("collateral/saved.der"));
  fs::copy_file(run.dir.path("collateral/root-ca-crl.body"), run.dir.path("collateral/pck-crl.body"));
  const RunResult wrong = prepare({"snapshot", run.dir.path("collateral"), "--out", out});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_TRUE(
      wrong.err.starts_with("refused: pck-crl.body is a CRL of \"Intel SGX Root CA\", not of a PCK CA\n"
                            "  what to do: fetch the PCK CRL from https://"))
      << wrong.err;
  fs::remove(run.dir.path("collateral/tcb-info.body"));
  const RunResult missing = prepare({"snapshot", run.dir.path("collateral"), "--out", out});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("tcb-info.body is missing"), std::string::npos) << missing.err;
  // Neither the snapshot nor a temporary file beside it.
  EXPECT_EQ(listing(run.dir.path("collateral")),
            (std::vector<std::string>{"pck-crl.body", "pck-crl.headers", "qe-identity.body", "qe-identity.headers",
                                      "root-ca-crl.body", "saved.der", "tcb-info.headers"}));
}

TEST(PrepareProgram, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> wrong = {
      {"snapshot", "dir"},
      {"snapshot", "dir", "--out"},
      {"snapshot", "dir", "--out", "a", "--out", "b"},
      {"snapshot", "dir", "--out", "a", "--fetched-at", "2025-09-15 00:00:00"},
      {"inspect", "a", "b"},
      {"inspect", "a", "--bogus"},
      {"fetch", "a"},
      {},
  };
  for (const auto& args : wrong) EXPECT_EQ(prepare(args).status, 2) << (args.empty() ? "" : args.front());
  // An input that cannot be read is an input error, as orvelant-verify counts it.
  const RunResult unreadable = prepare({"inspect", "/nonexistent/receipt.json"});
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_TRUE(unreadable.err.starts_with("refused: cannot read file /nonexistent/receipt.json: ")) << unreadable.err;
  const RunResult help = prepare({"inspect", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("orvelant-prepare inspect <FILE> [--json]"), std::string::npos);
  EXPECT_EQ(prepare({"--version"}).out, "orvelant-prepare 0.1.0\n");
}

TEST(PrepareProgram, InspectShowsWithoutJudging) {
  ORV_REQUIRE_SHARED(shared);
  RealRun run(shared);
  const std::string snapshot = run.dir.path("snapshot.json");
  ASSERT_EQ(prepare({"snapshot", run.dir.path("collateral"), "--out", snapshot}).status, 0);
  const RunResult shown = prepare({"inspect", snapshot});
  ASSERT_EQ(shown.status, 0) << shown.err;
  for (const char* part : {"collateral snapshot (shown, not judged", "fmspc: 20a06f000000", "tcb_evaluation_data_number: 17",
                           "earliest_expiry: 2025-10-02T07:03:51Z", "first_to_expire: the PCK CRL", "days_left: "}) {
    EXPECT_NE(shown.out.find(part), std::string::npos) << part << "\n" << shown.out;
  }
  const RunResult json = prepare({"inspect", run.receipt, "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  for (const char* part : {"\"judged\":false", "\"kind\":\"key receipt\"", "\"fmspc\":\"20a06f000000\"",
                           "\"td_attributes\":\"0000001000000000\"", "\"app-id: d35e277ab5ec51f71f5e395ab2e332ed8db5853a\""}) {
    EXPECT_NE(json.out.find(part), std::string::npos) << part << "\n" << json.out;
  }
  EXPECT_EQ(prepare({"inspect", run.dir.path("collateral/tcb-info.body")}).status, 1);
}

// The man page follows the program: a synopsis per subcommand, every option described.
TEST(PrepareProgram, TheManPageNamesEverySubcommandAndOption) {
  const std::string page = read_file(fs::path(ORV_SOURCE_DIR) / "docs/orvelant-prepare.1");
  const auto roff = [](std::string_view text) {
    std::string out;
    for (char c : text) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
  };
  for (const prepare::Subcommand* subcommand : prepare::subcommands()) {
    EXPECT_NE(page.find(".SY \"orvelant\\-prepare " + roff(subcommand->name) + "\""), std::string::npos) << subcommand->name;
    for (const prepare::OptionSpec& option : subcommand->arguments.options) {
      EXPECT_NE(page.find(".TP\n.B" + std::string(option.value_name.empty() ? " " : "I ") + roff(option.name)), std::string::npos)
          << option.name;
    }
  }
  EXPECT_NE(page.find("\"orvelant\\-prepare 0.1.0\""), std::string::npos);
}

}  // namespace
}  // namespace orv::test
