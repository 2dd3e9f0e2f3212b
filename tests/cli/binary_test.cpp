// The built program end to end: usage errors, help and version, input reading, and that each
// command's verdict reaches the output and the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>

#include "cli_support.h"
#include "core/hex.h"
#include "crypto/digest.h"
#include "tdx/documents.h"

namespace orv::test {
namespace {

constexpr size_t kMiB = 1024 * 1024;

class Binary : public ::testing::Test {
 protected:
  // A file of `size` zero bytes (valid UTF-8) without writing them: large limits stay cheap.
  std::string sparse(const std::string& name, uintmax_t size) {
    const std::string path = dir_.write(name, "");
    std::filesystem::resize_file(path, size);
    return path;
  }

  static void expect_usage_error(const std::vector<std::string>& args, const std::string& message) {
    const RunResult r = run_binary(args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_EQ(r.out, "") << message;
    EXPECT_EQ(r.err, usage_error(message));
  }

  // A report was printed (not a usage error) whose first line starts with `header`.
  static void expect_report(const std::vector<std::string>& args, int status, const std::string& header) {
    const RunResult r = run_binary(args);
    EXPECT_EQ(r.status, status) << header;
    EXPECT_EQ(r.err, "") << header;
    EXPECT_EQ(r.out.substr(0, header.size()), header);
  }

  TempDir dir_;
  const std::string f_ = dir_.write("doc", "{}");
  const std::string k_ = dir_.write("key", "00");
  const std::string s_ = dir_.write("snapshot", "{}");
  const std::string e_ = dir_.write("expected", "{}");
  const std::string e2_ = dir_.write("expected2", "{}");
  const std::string st_ = dir_.write("stamp", "{}");
  const std::string kr_ = dir_.write("key-receipt", "{}");
  const std::string ev_ = dir_.write("evidence", "{}");
  const std::string c_ = dir_.write("kept", "{}");
  const std::string h_ = dir_.write("head", "{}");
  const std::string missing_ = dir_.path("missing");
  const std::string latin1_ = dir_.write("latin1", "caf\xe9");
};

TEST_F(Binary, HelpAndVersion) {
  const std::string usage = std::string(cli::usage_text()) + "\n";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"--help"},
                                                                                    {"receipt", missing_, "--key", k_, "--help"},
                                                                                    {"--key", "-h", "receipt", f_},
                                                                                    {"--version", "--help"},
                                                                                    {"--bogus", "-h"}}) {
    const RunResult r = run_binary(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.err, "");
  }
  RunResult r = run_binary({});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, usage);
  EXPECT_EQ(r.err, "");
  for (const char* flag : {"--version", "-V"}) {
    r = run_binary({"receipt", flag, "--bogus"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "orvelant-verify 0.1.0\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(Binary, ScanErrors) {
  expect_usage_error({"receipt"}, "expected a command and one file");
  expect_usage_error({"receipt", f_, k_}, "expected a command and one file");
  expect_usage_error({"receipt", "--key=k", f_}, "unknown option --key=k");
  expect_usage_error({"receipt", f_, "--"}, "unknown option --");
  expect_usage_error({"receipt", f_, "--key", k_, "--key"}, "--key given more than once; pass exactly one key");
  expect_usage_error({"receipt", f_, "--key"}, "--key needs a file");
  expect_usage_error({"chain", f_, "--head"}, "--head needs a file");
  expect_usage_error({"key-chain", f_, "--contains"}, "--contains needs a file");
  expect_usage_error({"key-chain", f_, "--expected"}, "--expected needs a file");
  expect_usage_error({"receipt", f_, "--snapshot"}, "--snapshot needs a file");
  expect_usage_error({"key-receipt", f_, "--snapshot", s_, "--snapshot", s_}, "--snapshot given more than once");
  expect_usage_error({"receipt", f_ + "\xff"}, "argument 2 is not UTF-8 text");
}

TEST_F(Binary, CommandRulesInTheirOrder) {
  const std::string link = dir_.path("link");
  std::filesystem::create_symlink(f_, link);
  const std::string itself = "--key is the document itself; the key must come from somewhere other than the document it checks";
  expect_usage_error({"receipt", f_, "--key", f_}, itself);
  expect_usage_error({"receipt", f_, "--key", link}, itself);
  expect_usage_error({"log-evidence", f_, "--key", f_}, itself);
  expect_usage_error({"log-evidence", f_, "--evidence", ev_, "--expected", e_}, "log-evidence takes only --evidence");
  expect_usage_error({"log-evidence", f_}, "log-evidence needs --evidence");
  expect_usage_error({"receipt", f_, "--evidence", ev_}, "--evidence applies to the log-evidence command only");
  expect_usage_error({"key-receipt", f_, "--snapshot", s_, "--expected", e_, "--expected", e2_},
                     "--expected given more than once");
  expect_usage_error({"attested-record", f_, "--expected", e_, "--expected", e2_}, "--expected given more than once");
  expect_usage_error({"key-chain", f_, "--key", k_}, "key-chain takes only --contains, --snapshot and --expected");
  expect_usage_error({"key-chain", f_, "--snapshot", s_}, "key-chain Level 2 needs both --snapshot and at least one --expected");
  expect_usage_error({"key-chain", f_, "--expected", e_}, "key-chain Level 2 needs both --snapshot and at least one --expected");
  expect_usage_error({"receipt", f_, "--contains", c_}, "--contains applies to the key-chain command only");
  expect_usage_error({"attested-record", f_, "--head", h_},
                     "attested-record takes no --key or --head: the key comes from the key receipt and is proven by "
                     "Intel's quote against your --expected file");
  expect_usage_error({"attested-record", f_, "--snapshot", s_, "--expected", e_}, "attested-record needs --key-receipt");
  expect_usage_error({"attested-record", f_, "--key-receipt", kr_, "--expected", e_}, "attested-record needs --snapshot");
  expect_usage_error({"attested-record", f_, "--key-receipt", kr_, "--snapshot", s_}, "attested-record needs --expected");
  expect_usage_error({"receipt", f_, "--key-receipt", kr_}, "--key-receipt applies to the attested-record command only");
  expect_usage_error({"receipt", f_, "--stamp", st_}, "--stamp applies to the timestamp and attested-record commands only");
  expect_usage_error({"timestamp", f_, "--stamp", st_, "--expected", e_},
                     "timestamp takes only --stamp: the timestamp authorities it trusts are built into this verifier");
  expect_usage_error({"timestamp", f_}, "timestamp needs --stamp");
  expect_usage_error({"timestamp", f_, "--stamp", link}, "--stamp is the file itself");
  expect_usage_error({"timestamp", f_, "--stamp", latin1_}, "stamp " + latin1_ + " is not UTF-8 text");
  expect_usage_error({"receipt", f_, "--head", h_}, "--head applies to the chain command only");
  expect_usage_error({"chain", f_, "--snapshot", s_}, "--snapshot / --expected apply to the key-receipt command only");
  expect_usage_error({"key-receipt", f_, "--expected", e_}, "key-receipt needs --snapshot");
  expect_usage_error({"key-receipt", f_, "--snapshot", s_}, "key-receipt needs --expected");
  expect_usage_error({"bo\x1b[2Jgus", f_, "--key", k_}, "unknown command bo\\u{001b}[2Jgus");
}

TEST_F(Binary, AttestedRecordInputsMustBeDifferentFiles) {
  const std::string l1 = dir_.path("l1");
  const std::string l2 = dir_.path("l2");
  std::filesystem::create_symlink(s_, l1);
  std::filesystem::create_symlink(s_, l2);
  const auto args = [&](const std::string& record, const std::string& snapshot, const std::string& stamp) {
    return std::vector<std::string>{"attested-record", record, "--key-receipt", kr_,  "--snapshot", snapshot,
                                    "--expected",      e_,     "--stamp",       stamp};
  };
  expect_usage_error(args(f_, s_, f_), f_ + " is given twice; each input must be a different file");
  expect_usage_error(args(l1, s_, l2), l1 + " is given twice; each input must be a different file");
  expect_usage_error(args(f_, l1, l2), l1 + " is given twice; each input must be a different file");
  // A stamp that does not exist takes part in no comparison; its read fails later.
  expect_usage_error(args(f_, s_, missing_), "cannot read stamp " + missing_ + ": No such file or directory (os error 2)");
}

TEST_F(Binary, ReadsAreCheckedBeforeLaterRules) {
  const std::string not_found = ": No such file or directory (os error 2)";
  expect_usage_error({"bogus", missing_}, "cannot read file " + missing_ + not_found);
  expect_usage_error({"receipt", missing_, "--head", h_}, "cannot read file " + missing_ + not_found);
  expect_usage_error({"receipt", f_, "--key", missing_}, "cannot read key " + missing_ + not_found);
  expect_usage_error({"receipt", dir_.path("")}, "cannot read file " + dir_.path("") + ": Is a directory (os error 21)");
  expect_usage_error({"key-receipt", f_, "--snapshot", missing_}, "cannot read snapshot " + missing_ + not_found);
  expect_usage_error({"chain", f_, "--head", h_, "--head", missing_, "--head", dir_.path("")},
                     "cannot read head " + missing_ + not_found);
  expect_usage_error({"key-chain", f_, "--contains", c_, "--contains", latin1_},
                     "kept receipt " + latin1_ + " is not UTF-8 text");
  expect_usage_error({"key-chain", f_, "--snapshot", s_, "--expected", e_, "--expected", missing_},
                     "cannot read expected TD " + missing_ + not_found);
  expect_usage_error({"attested-record", f_, "--key-receipt", missing_, "--snapshot", s_, "--expected", e_},
                     "cannot read key receipt " + missing_ + not_found);
  expect_usage_error({"log-evidence", latin1_, "--evidence", ev_}, "receipt " + latin1_ + " is not UTF-8 text");
  expect_usage_error({"receipt", latin1_}, "file " + latin1_ + " is not UTF-8 text");
  // A terminal control in a file name is shown, not obeyed.
  expect_usage_error({"receipt", dir_.path("a\x1b[31mb")}, "cannot read file " + dir_.path("a\\u{001b}[31mb") + not_found);
}

TEST_F(Binary, EachInputHasItsLimit) {
  const auto larger = [](const std::string& label, const std::string& path, size_t limit) {
    return label + " " + path + " is larger than the " + std::to_string(limit) + "-byte limit; refusing to read it";
  };
  const std::string mib1 = sparse("mib1", kMiB + 1);
  const std::string kib64 = sparse("kib64", 64 * 1024 + 1);
  expect_usage_error({"receipt", mib1}, larger("file", mib1, kMiB));
  expect_usage_error({"receipt", f_, "--key", kib64}, larger("key", kib64, 64 * 1024));
  expect_usage_error({"chain", f_, "--head", kib64}, larger("head", kib64, 64 * 1024));
  expect_usage_error({"key-receipt", f_, "--snapshot", s_, "--expected", mib1}, larger("expected TD", mib1, kMiB));
  expect_usage_error({"key-chain", f_, "--contains", mib1}, larger("kept receipt", mib1, kMiB));
  expect_usage_error({"attested-record", mib1, "--key-receipt", kr_, "--snapshot", s_, "--expected", e_},
                     larger("record", mib1, kMiB));
  expect_usage_error({"attested-record", f_, "--key-receipt", kr_, "--snapshot", s_, "--expected", e_, "--stamp", mib1},
                     larger("stamp", mib1, kMiB));
  expect_usage_error({"timestamp", f_, "--stamp", mib1}, larger("stamp", mib1, kMiB));
  const std::string mib4 = sparse("mib4", 4 * kMiB + 1);
  expect_usage_error({"log-evidence", f_, "--evidence", mib4}, larger("log evidence", mib4, 4 * kMiB));
  const std::string mib64 = sparse("mib64", 64 * kMiB + 1);
  expect_usage_error({"key-chain", mib64}, larger("chain", mib64, 64 * kMiB));
  const std::string mib256 = sparse("mib256", 256 * kMiB + 1);
  expect_usage_error({"chain", mib256}, larger("file", mib256, 256 * kMiB));
  expect_usage_error({"timestamp", mib256, "--stamp", st_}, larger("file", mib256, 256 * kMiB));

  // Exactly at the limit is read and handed on.
  std::filesystem::resize_file(mib256, 256 * kMiB);
  std::filesystem::resize_file(mib4, 4 * kMiB);
  std::filesystem::resize_file(mib64, 64 * kMiB);
  std::filesystem::resize_file(kib64, 64 * 1024);
  expect_report({"chain", mib256, "--key", kib64}, 2, "REFUSED  " + mib256 + "  (chain, 0 receipts)\n");
  expect_report({"log-evidence", f_, "--evidence", mib4}, 1,
                "INVALID  " + f_ + "  (public-log evidence)\n  [PARSE] evidence is not strict JSON: ");
  expect_report({"timestamp", mib256, "--stamp", st_}, 1, "INVALID  " + mib256 + "  (timestamp)\n");
  expect_report({"key-chain", mib64}, 1, "INVALID  " + mib64 + "  (key-receipt history, 1 boots, hash links only)\n");
}

TEST_F(Binary, CommandsReadEverythingBeforeJudging) {
  expect_report({"chain", f_, "--key", k_, "--head", h_, "--head", h_, "--json"}, 2, "{\n  \"outcome\": \"refused\",");
  expect_report({"chain", f_}, 2, "REFUSED  " + f_ + "  (chain, 0 receipts)\n  [PIN_MISSING] ");
  expect_report({"key-receipt", f_, "--key", k_, "--snapshot", s_, "--expected", e_}, 2,
                "REFUSED  " + f_ + "  (Level 2, Intel TDX leg)\n  [PIN_INVALID] ");
  expect_report({"key-receipt", f_, "--snapshot", s_, "--expected", s_}, 2,
                "REFUSED  " + f_ + "  (Level 2, Intel TDX leg)\n  [PIN_MISSING] ");
  // Bytes mode: a document that is not UTF-8 is stamped like any other.
  expect_report({"timestamp", latin1_, "--stamp", st_}, 1, "INVALID  " + latin1_ + "  (timestamp)\n  [TIMESTAMP_PARSE] ");
  expect_report({"key-chain", f_}, 1,
                "INVALID  " + f_ + "  (key-receipt history, 1 boots, hash links only)\n  line 1: [PARSE] not a key receipt: ");
  expect_report({"key-chain", f_, "--contains", c_, "--snapshot", s_, "--expected", e_, "--expected", e2_}, 1,
                "INVALID  " + f_ + "  (key-receipt history, 1 boots, every receipt Intel-verified)\n  line 1: [PARSE] ");
  // Without a key from the key receipt Level 2 refuses, and so does the whole check.
  const std::string no_key = "  (attested live record)\n  [PARSE] key receipt: not strict JSON with exactly one public_key_hex\n";
  expect_report({"attested-record", f_, "--key-receipt", kr_, "--snapshot", s_, "--expected", e_}, 2,
                "REFUSED  " + f_ + no_key + "  [UNKNOWN_FORMAT] record: not a lab receipt");
  expect_report({"attested-record", f_, "--key-receipt", kr_, "--snapshot", s_, "--expected", e_, "--stamp", st_, "--json"}, 2,
                "{\n  \"outcome\": \"refused\",");
  expect_report({"log-evidence", f_, "--evidence", ev_}, 1,
                "INVALID  " + f_ + "  (public-log evidence)\n  [PARSE] not a key receipt: ");
}

// A first boot whose quote holds only what the hash-links check reads: a version 4 TDX header
// and report_data binding the key and GENESIS. Intel's signatures are not checked in that mode.
std::string genesis_receipt() {
  const std::vector<uint8_t> key(1952, 7);
  const tdx::LiveKeyReceipt r{std::string(tdx::kReceiptSchemaV2),
                              "ML-DSA-65",
                              hex_encode(key),
                              "",
                              {},
                              "2030-01-01T00:00:00Z",
                              "GENESIS",
                              std::nullopt,
                              std::nullopt};
  std::vector<uint8_t> quote(632);
  quote[0] = 4;
  quote[4] = 0x81;
  const auto binding = *tdx::key_binding(r, key);
  std::copy(binding.begin(), binding.end(), quote.begin() + 568);
  return "{\"schema\":\"" + r.schema + "\",\"alg\":\"ML-DSA-65\",\"public_key_hex\":\"" + r.public_key_hex +
         "\",\"quote_hex\":\"" + hex_encode(quote) + "\",\"event_log\":[],\"issued_at\":\"" + r.issued_at +
         "\",\"prev_receipt_sha256\":\"GENESIS\"}";
}

// The history check's own verdicts are tested with it; a valid history reaches the output as
// VALID with status 0, and a kept receipt that is missing turns it INVALID with status 1.
TEST_F(Binary, KeyChainVerdictIsPrintedAndSetsTheStatus) {
  const std::string line = genesis_receipt();
  const std::string history = dir_.write("history.jsonl", line + "\n");
  const std::string kept = dir_.write("kept.json", line + "\n");
  RunResult r = run_binary({"key-chain", history, "--contains", kept});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out.starts_with("VALID  " + history +
                                "  (key-receipt history, 1 boots, hash links only)\n"
                                "  newest receipt sha256: " +
                                crypto::sha256_hex(as_bytes(line)) +
                                "\n"
                                "  boot 1: key id " +
                                crypto::sha256_hex(std::vector<uint8_t>(1952, 7)) + "\n\n"))
      << r.out;
  EXPECT_TRUE(r.out.ends_with("\nRESULT: VALID\n")) << r.out;

  r = run_binary({"key-chain", history, "--contains", f_, "--json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(
      r.out.starts_with("{\n  \"outcome\": \"invalid\",\n  \"valid\": false,\n  \"problems\": [\n    {\n"
                        "      \"line\": 0,\n      \"code\": \"RECEIPT_MISSING\","))
      << r.out;
}

// The receipt verifier's own verdicts are tested with it; this checks only that its verdict
// reaches standard output and the exit status.
TEST_F(Binary, ReceiptVerdictIsPrintedAndSetsTheStatus) {
  const std::string text = dir_.write("text", "not json");
  RunResult r = run_binary({"receipt", text, "--key", k_});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.starts_with("INVALID  " + text + "  (unknown)\n  [PARSE] ")) << r.out;
  EXPECT_TRUE(r.out.ends_with("\nRESULT: INVALID\n")) << r.out;
  r = run_binary({"receipt", text, "--json", "--key", k_});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.starts_with("{\n  \"format\": \"unknown\",\n  \"outcome\": \"invalid\",\n")) << r.out;
}

TEST_F(Binary, ClosedStandardOutputKeepsTheStatus) {
  EXPECT_EQ(run_binary({"--help"}, true).status, 0);
  EXPECT_EQ(run_binary({}, true).status, 2);
  EXPECT_EQ(run_binary({"--version"}, true).status, 0);
  EXPECT_EQ(run_binary({"receipt", dir_.write("text", "not json"), "--key", k_}, true).status, 1);
}

}  // namespace
}  // namespace orv::test
