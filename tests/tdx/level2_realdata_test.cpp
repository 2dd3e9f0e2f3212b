// A real Intel TDX quote with its real collateral and event log, judged by Level 2 through the
// published Intel root. No real quote binds a key of ours, so the receipt names a placeholder
// key and the one expected finding is KEY_NOT_BOUND; the pins are read from the quote itself.
#include <gtest/gtest.h>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>

#include "core/hex.h"
#include "support/printers.h"
#include "support/shared_data.h"
#include "tdx/level2.h"

namespace orv::tdx {
namespace {

constexpr uint64_t kInsideWindow = 1757937600;        // 2025-09-15T12:00:00Z
constexpr uint64_t kEarliestExpiration = 1759388631;  // 2025-10-02T07:03:51Z, the PCK CRL's nextUpdate

std::string compact(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return buffer.GetString();
}

struct RealInputs {
  std::string receipt, key, snapshot, expected, root;
};

RealInputs real_inputs(const std::filesystem::path& shared) {
  const auto dir = shared / "testdata/tdx-real/tee-solver-dstack";
  const std::string quote = test::read_file(dir / "quote_alice.bin");
  const std::string events = test::read_file(dir / "event_log.json");
  const std::string collateral = test::read_file(dir / "quote_collateral.json");
  std::vector<uint8_t> key(1952);
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 7 + 3);

  rapidjson::Document log;
  log.Parse(events.c_str());
  const auto payload = [&](std::string_view name) {
    for (const auto& e : log.GetArray()) {
      if (e["imr"].GetUint() == 3 && name == e["event"].GetString()) return std::string(e["event_payload"].GetString());
    }
    return std::string();
  };
  const auto report = as_bytes(quote).subspan(48, 584);
  const auto field = [&](size_t offset, size_t size) { return hex_encode(report.subspan(offset, size)); };

  RealInputs in;
  in.key = hex_encode(key);
  in.receipt = R"({"schema":"orvelant/live-key-receipt/v1","alg":"ML-DSA-65","public_key_hex":")" + in.key +
               R"(","quote_hex":")" + hex_encode(as_bytes(quote)) + R"(","event_log":)" + compact(log) +
               R"(,"issued_at":"2025-09-15T12:00:00Z"})";
  std::string trimmed_collateral = collateral;
  while (!trimmed_collateral.empty() && std::isspace(static_cast<unsigned char>(trimmed_collateral.back()))) {
    trimmed_collateral.pop_back();
  }
  in.snapshot = R"({"schema":"orvelant/intel-collateral-snapshot/v1","fetched_at":"2025-09-15T00:00:00Z",)"
                R"("source":"public test data","collateral":)" +
                trimmed_collateral + "}";
  in.expected = R"({"schema":"orvelant/expected-td/v1","td_attributes":")" + field(120, 8) + R"(","xfam":")" + field(128, 8) +
                R"(","mr_td":")" + field(136, 48) + R"(","mr_config_id":")" + field(184, 48) + R"(","mr_owner":")" +
                field(232, 48) + R"(","mr_owner_config":")" + field(280, 48) + R"(","rt_mr0":")" + field(328, 48) +
                R"(","rt_mr1":")" + field(376, 48) + R"(","rt_mr2":")" + field(424, 48) + R"(","app_id":")" + payload("app-id") +
                R"(","compose_hash":")" + payload("compose-hash") + R"(","os_image_hash":")" + payload("os-image-hash") +
                R"(","key_provider":")" + payload("key-provider") + R"(","min_tcb_evaluation_data_number":17})";
  in.root = test::read_file(shared / "trust/intel-sgx-root-ca.der");
  return in;
}

Level2Report judge(const RealInputs& in, uint64_t now) {
  return evaluate_level2({in.receipt, in.key, in.snapshot, in.expected, now, as_bytes(in.root)}).report;
}

TEST(Level2RealQuote, EveryIntelCheckPassesAndOnlyTheBindingFails) {
  ORV_REQUIRE_SHARED(shared);
  const RealInputs in = real_inputs(shared);
  const Level2Report report = judge(in, kInsideWindow);
  EXPECT_EQ(report.problems,
            (std::vector<Problem>{{"KEY_NOT_BOUND", "the quote's report_data does not bind the pinned live key"}}));
  EXPECT_EQ(report.tcb_status, "UpToDate");
  EXPECT_EQ(report.fmspc, "20a06f000000");
  EXPECT_EQ(report.tcb_evaluation_data_number, 17u);
  EXPECT_EQ(report.collateral_valid_until, "2025-10-02T07:03:51Z");
  EXPECT_EQ(report.measurements.count("rt_mr3"), 1u);  // the real event log replays
  EXPECT_TRUE(report.mr_kms_observed.has_value());

  EXPECT_EQ(judge(in, kEarliestExpiration).problems.size(), 1u);
  const Level2Report expired = judge(in, kEarliestExpiration + 1);
  ASSERT_EQ(expired.problems.size(), 1u);
  EXPECT_EQ(expired.problems[0].code, "COLLATERAL_EXPIRED");
  EXPECT_TRUE(expired.problems[0].message.ends_with(". Obtain a newer Intel collateral snapshot."));
}

}  // namespace
}  // namespace orv::tdx
