// The log-evidence command end to end, through the compiled-in Sigsum policy and Rekor log. No
// public log holds a receipt of ours, so what the built program can show honestly is refusal:
// evidence that is valid under the test trust of tests/data/log_evidence proves nothing here.
#include <gtest/gtest.h>

#include <string>

#include "cli_support.h"
#include "core/hex.h"
#include "crypto/digest.h"
#include "json/document.h"
#include "json/record.h"
#include "support/shared_data.h"
#include "tdx/log_evidence.h"

namespace orv::test {
namespace {

const std::string kData = ORV_SOURCE_DIR "/tests/data/log_evidence/";

std::string key_id_of(const std::string& receipt_path) {
  const Expected<json::Document, std::string> receipt = json::parse(read_file(receipt_path));
  if (!receipt) return {};
  return crypto::sha256_hex(hex_decode(json::string_member(receipt->root(), "public_key_hex")).value_or(std::vector<uint8_t>()));
}

std::string scope_lines() { return "\n" + std::string(tdx::kLogEvidenceScope) + "\nRESULT: INVALID\n"; }

TEST(LogEvidenceCommand, VersionTwoReceiptCarriesNoLogKeys) {
  const std::string receipt = kData + "receipt-v2.json";
  const RunResult r = run_binary({"log-evidence", receipt, "--evidence", kData + "evidence.json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "INVALID  " + receipt +
                       "  (public-log evidence)\n"
                       "  [UNSUPPORTED_SCHEMA] only orvelant/live-key-receipt/v3 receipts carry log keys\n" +
                       scope_lines());
}

TEST(LogEvidenceCommand, TestLogsAreNotTrustedByTheBuiltProgram) {
  // Every proof and entry verifies under the test trust (tests/tdx checks that); the program
  // knows neither the test Sigsum logs nor the test Rekor log.
  const std::string receipt = kData + "receipt.json";
  const std::string key_id = key_id_of(receipt);
  ASSERT_EQ(key_id.size(), 64u);
  const std::string sigsum_problem =
      "Sigsum proof 1: [TLOG_LOG_SIGNATURE_INVALID] the tree head is not signed by a log in the pinned policy";
  const std::string rekor_problem = "Rekor entry 1: [TLOG_UNKNOWN_LOG] the entry is from a different log";

  const RunResult text = run_binary({"log-evidence", receipt, "--evidence", kData + "evidence.json"});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(text.out, "INVALID  " + receipt + "  (public-log evidence)\n  [SIGSUM] " + sigsum_problem + "\n  [REKOR] " +
                          rekor_problem + "\n  key id (claimed until Level 2 passes): " + key_id + "\n" + scope_lines());

  const RunResult json = run_binary({"log-evidence", receipt, "--evidence", kData + "evidence.json", "--json"});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.out,
            "{\n"
            "  \"outcome\": \"invalid\",\n"
            "  \"valid\": false,\n"
            "  \"problems\": [\n"
            "    {\n"
            "      \"code\": \"SIGSUM\",\n"
            "      \"message\": \"" +
                sigsum_problem +
                "\"\n"
                "    },\n"
                "    {\n"
                "      \"code\": \"REKOR\",\n"
                "      \"message\": \"" +
                rekor_problem +
                "\"\n"
                "    }\n"
                "  ],\n"
                "  \"key_id\": \"" +
                key_id +
                "\",\n"
                "  \"sigsum\": [],\n"
                "  \"rekor_log_indexes\": [],\n"
                "  \"scope\": \"" +
                std::string(tdx::kLogEvidenceScope) +
                "\"\n"
                "}\n");
}

}  // namespace
}  // namespace orv::test
