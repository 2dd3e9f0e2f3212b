#include <gtest/gtest.h>

#include "api/json_writer.h"
#include "api/render_json.h"
#include "json/string_literal.h"

namespace orv::api {
namespace {

// A standalone report as it appears nested one level deep: indented, without its newline.
std::string nested(std::string json) {
  if (json.ends_with('\n')) json.pop_back();
  std::string out;
  for (const char c : json) {
    out += c;
    if (c == '\n') out += "  ";
  }
  return out;
}

TEST(JsonWriter, EscapesOnlyWhatTheReportEscapes) {
  std::string out;
  json::append_string_literal(out, "q\" b\\ /\b\f\n\r\t\x01\x1f\x7f caf\u00e9 \u202e");
  EXPECT_EQ(out, "\"q\\\" b\\\\ /\\b\\f\\n\\r\\t\\u0001\\u001f\x7f caf\u00e9 \u202e\"");
}

TEST(JsonWriter, NestsWithTwoSpacesAndWritesEmptyContainersInline) {
  std::string out;
  Json(Json::Object{{"a", Json::Array{Json::Array{"x", uint64_t{18446744073709551615u}}, Json()}},
                    {"b", Json::Object{}},
                    {"c", Json::Array{}},
                    {"d", false}})
      .write(out);
  EXPECT_EQ(out,
            "{\n"
            "  \"a\": [\n"
            "    [\n"
            "      \"x\",\n"
            "      18446744073709551615\n"
            "    ],\n"
            "    null\n"
            "  ],\n"
            "  \"b\": {},\n"
            "  \"c\": [],\n"
            "  \"d\": false\n"
            "}");
}

sig::ReceiptVerdict invalid_live_record() {
  sig::ReceiptVerdict v;
  v.format = sig::ReceiptFormat::LiveRecord;
  v.outcome = Outcome::Invalid;
  v.problems = {{"SIGNATURE_INVALID", "model \u202e\"x\""}};
  v.facts = {{"z", "1"}, {"a", "\x1b"}};
  v.scope = "S";
  return v;
}

const char* const kInvalidLiveRecord =
    "{\n"
    "  \"format\": \"live-record\",\n"
    "  \"outcome\": \"invalid\",\n"
    "  \"valid\": false,\n"
    "  \"problems\": [\n"
    "    {\n"
    "      \"code\": \"SIGNATURE_INVALID\",\n"
    "      \"message\": \"model \u202e\\\"x\\\"\"\n"
    "    }\n"
    "  ],\n"
    "  \"facts\": {\n"
    "    \"a\": \"\\u001b\",\n"
    "    \"z\": \"1\"\n"
    "  },\n"
    "  \"intermediate\": {},\n"
    "  \"scope\": \"S\"\n"
    "}\n";

TEST(RenderJson, ReceiptKeepsBothMapsAndRawText) { EXPECT_EQ(render_json(invalid_live_record()), kInvalidLiveRecord); }

TEST(RenderJson, ChainHasHeadsOnlyWhenGiven) {
  sig::ChainReport r;
  r.outcome = Outcome::Valid;
  r.valid = true;
  r.length = 1;
  r.problems = {{"PARSE", "m", 0}, {"LINKAGE", "n", 3}};
  r.entries = {invalid_live_record()};
  r.scope = "S";
  const std::string start =
      "{\n"
      "  \"outcome\": \"valid\",\n"
      "  \"valid\": true,\n"
      "  \"length\": 1,\n"
      "  \"head_receipt_hash\": null,\n"
      "  \"problems\": [\n"
      "    {\n"
      "      \"line\": 0,\n"
      "      \"code\": \"PARSE\",\n"
      "      \"message\": \"m\"\n"
      "    },\n"
      "    {\n"
      "      \"line\": 3,\n"
      "      \"code\": \"LINKAGE\",\n"
      "      \"message\": \"n\"\n"
      "    }\n"
      "  ],\n"
      "  \"entries\": [\n"
      "    " +
      nested(nested(kInvalidLiveRecord)) +
      "\n"
      "  ],\n";
  EXPECT_EQ(render_json(r), start + "  \"scope\": \"S\"\n}\n");

  r.heads_given = true;
  EXPECT_EQ(render_json(r), start + "  \"heads\": [],\n  \"scope\": \"S\"\n}\n");
  r.heads = {{1, Outcome::Refused, std::nullopt, "h", std::nullopt}};
  EXPECT_EQ(render_json(r), start +
                                "  \"heads\": [\n"
                                "    {\n"
                                "      \"index\": 1,\n"
                                "      \"outcome\": \"refused\",\n"
                                "      \"length\": null,\n"
                                "      \"head_receipt_hash\": \"h\",\n"
                                "      \"issued_at\": null\n"
                                "    }\n"
                                "  ],\n"
                                "  \"scope\": \"S\"\n"
                                "}\n");
}

tdx::Level2Report level2() {
  tdx::Level2Report r;
  r.problems = {{"PIN_MISSING", "p"}};
  r.evaluated_at = "E";
  r.tcb_evaluation_data_number = 4294967295u;
  r.advisory_ids = {"INTEL-SA-1"};
  r.snapshot_fetched_at_claimed = "F";
  r.receipt_issued_at_claimed = "I";
  r.measurements = {{"mr_td", "00"}};
  r.notes = {"n"};
  r.scope = "S";
  return r;
}

const char* const kLevel2 =
    "{\n"
    "  \"leg\": \"intel-tdx\",\n"
    "  \"outcome\": \"refused\",\n"
    "  \"valid\": false,\n"
    "  \"problems\": [\n"
    "    {\n"
    "      \"code\": \"PIN_MISSING\",\n"
    "      \"message\": \"p\"\n"
    "    }\n"
    "  ],\n"
    "  \"evaluated_at\": \"E\",\n"
    "  \"tcb_status\": null,\n"
    "  \"tcb_evaluation_data_number\": 4294967295,\n"
    "  \"advisory_ids\": [\n"
    "    \"INTEL-SA-1\"\n"
    "  ],\n"
    "  \"fmspc\": null,\n"
    "  \"snapshot_fetched_at_claimed\": \"F\",\n"
    "  \"collateral_valid_until\": null,\n"
    "  \"receipt_issued_at_claimed\": \"I\",\n"
    "  \"prev_receipt_sha256\": null,\n"
    "  \"sigsum_chain_key_hex\": null,\n"
    "  \"measurements\": {\n"
    "    \"mr_td\": \"00\"\n"
    "  },\n"
    "  \"mr_kms_observed\": null,\n"
    "  \"notes\": [\n"
    "    \"n\"\n"
    "  ],\n"
    "  \"scope\": \"S\"\n"
    "}\n";

TEST(RenderJson, KeyReceiptWritesAbsentOptionalsAsNull) {
  EXPECT_EQ(render_json(level2()), kLevel2);
  tdx::Level2Report full = level2();
  full.tcb_status = "UpToDate";
  full.fmspc = "f";
  full.collateral_valid_until = "c";
  full.prev_receipt_sha256 = "p";
  full.sigsum_chain_key_hex = "s";
  full.mr_kms_observed = "m";
  full.advisory_ids.clear();
  full.notes.clear();
  full.measurements.clear();
  const std::string json = render_json(full);
  for (const char* member : {"\"tcb_status\": \"UpToDate\",", "\"fmspc\": \"f\",", "\"collateral_valid_until\": \"c\",",
                             "\"prev_receipt_sha256\": \"p\",", "\"sigsum_chain_key_hex\": \"s\",", "\"mr_kms_observed\": \"m\",",
                             "\"advisory_ids\": [],", "\"notes\": [],", "\"measurements\": {},"}) {
    EXPECT_NE(json.find(member), std::string::npos) << member;
  }
}

tsa::TimestampReport timestamp() {
  tsa::TimestampReport r;
  r.outcome = Outcome::Valid;
  r.valid = true;
  r.stamps = {{"Sigstore", "G", 1, std::nullopt, "N", 2, "SHA-256", "0a", "1.2", "CN=x", std::nullopt}};
  r.evaluated_at = "E";
  r.scope = "S";
  return r;
}

const char* const kTimestamp =
    "{\n"
    "  \"outcome\": \"valid\",\n"
    "  \"valid\": true,\n"
    "  \"problems\": [],\n"
    "  \"stamps\": [\n"
    "    {\n"
    "      \"tsa\": \"Sigstore\",\n"
    "      \"gen_time\": \"G\",\n"
    "      \"gen_time_unix\": 1,\n"
    "      \"accuracy_ms\": null,\n"
    "      \"no_later_than\": \"N\",\n"
    "      \"no_later_than_unix\": 2,\n"
    "      \"imprint_alg\": \"SHA-256\",\n"
    "      \"serial_hex\": \"0a\",\n"
    "      \"policy\": \"1.2\",\n"
    "      \"signer\": \"CN=x\",\n"
    "      \"nonce_hex\": null\n"
    "    }\n"
    "  ],\n"
    "  \"no_later_than\": null,\n"
    "  \"evaluated_at\": \"E\",\n"
    "  \"scope\": \"S\"\n"
    "}\n";

TEST(RenderJson, TimestampStampWithoutAccuracy) {
  EXPECT_EQ(render_json(timestamp()), kTimestamp);
  tsa::TimestampReport r = timestamp();
  r.stamps[0].accuracy_ms = 10;
  r.stamps[0].nonce_hex = "00ff";
  r.no_later_than = "N";
  const std::string json = render_json(r);
  EXPECT_NE(json.find("\"accuracy_ms\": 10,"), std::string::npos);
  EXPECT_NE(json.find("\"nonce_hex\": \"00ff\"\n"), std::string::npos);
  EXPECT_NE(json.find("\n  \"no_later_than\": \"N\",\n"), std::string::npos);
}

TEST(RenderJson, KeyChain) {
  tdx::KeyChainReport r;
  r.problems = {{"CHAIN_BROKEN", "m", 2}};
  r.length = 2;
  r.head_receipt_sha256 = "h";
  r.key_ids = {"a", "b"};
  r.contains = {true, false};
  r.level2_checked = true;
  r.scope = "S";
  EXPECT_EQ(render_json(r),
            "{\n"
            "  \"outcome\": \"invalid\",\n"
            "  \"valid\": false,\n"
            "  \"problems\": [\n"
            "    {\n"
            "      \"line\": 2,\n"
            "      \"code\": \"CHAIN_BROKEN\",\n"
            "      \"message\": \"m\"\n"
            "    }\n"
            "  ],\n"
            "  \"length\": 2,\n"
            "  \"head_receipt_sha256\": \"h\",\n"
            "  \"key_ids\": [\n"
            "    \"a\",\n"
            "    \"b\"\n"
            "  ],\n"
            "  \"sigsum_chain_keys\": [],\n"
            "  \"contains\": [\n"
            "    true,\n"
            "    false\n"
            "  ],\n"
            "  \"level2_checked\": true,\n"
            "  \"scope\": \"S\"\n"
            "}\n");
}

TEST(RenderJson, AttestedRecordNestsWholeVerdicts) {
  tdx::AttestedRecordReport r;
  r.outcome = Outcome::Invalid;
  r.record = invalid_live_record();
  r.level2 = level2();
  r.scope = "S";
  const std::string start =
      "{\n"
      "  \"outcome\": \"invalid\",\n"
      "  \"valid\": false,\n"
      "  \"problems\": [],\n"
      "  \"key_id\": null,\n"
      "  \"record\": " +
      nested(kInvalidLiveRecord) +
      ",\n"
      "  \"level2\": " +
      nested(kLevel2) + ",\n";
  EXPECT_EQ(render_json(r), start +
                                "  \"timestamp\": null,\n"
                                "  \"key_receipt_no_later_than\": null,\n"
                                "  \"scope\": \"S\"\n"
                                "}\n");
  r.timestamp = timestamp();
  r.key_id = "k";
  r.key_receipt_no_later_than = "N";
  const std::string with_stamp = render_json(r);
  EXPECT_NE(with_stamp.find("  \"key_id\": \"k\",\n"), std::string::npos);
  EXPECT_NE(with_stamp.find("  \"timestamp\": " + nested(kTimestamp) +
                            ",\n  \"key_receipt_no_later_than\": \"N\",\n  \"scope\": \"S\"\n}\n"),
            std::string::npos);
}

TEST(RenderJson, LogEvidenceWritesWitnessesAsPairs) {
  tdx::LogEvidenceReport r;
  r.outcome = Outcome::Valid;
  r.valid = true;
  r.sigsum = {{"ab", 5, 9, {{"w\"1", 1738310709}}, true}, {"cd", 0, 1, {}, false}};
  r.rekor_log_indexes = {7};
  r.scope = "S";
  EXPECT_EQ(render_json(r),
            "{\n"
            "  \"outcome\": \"valid\",\n"
            "  \"valid\": true,\n"
            "  \"problems\": [],\n"
            "  \"key_id\": null,\n"
            "  \"sigsum\": [\n"
            "    {\n"
            "      \"log_key_hex\": \"ab\",\n"
            "      \"leaf_index\": 5,\n"
            "      \"tree_size\": 9,\n"
            "      \"witnesses\": [\n"
            "        [\n"
            "          \"w\\\"1\",\n"
            "          1738310709\n"
            "        ]\n"
            "      ],\n"
            "      \"gate_attested\": true\n"
            "    },\n"
            "    {\n"
            "      \"log_key_hex\": \"cd\",\n"
            "      \"leaf_index\": 0,\n"
            "      \"tree_size\": 1,\n"
            "      \"witnesses\": [],\n"
            "      \"gate_attested\": false\n"
            "    }\n"
            "  ],\n"
            "  \"rekor_log_indexes\": [\n"
            "    7\n"
            "  ],\n"
            "  \"scope\": \"S\"\n"
            "}\n");
}

}  // namespace
}  // namespace orv::api
