// The attested-record check with one of its inputs from the fuzzer, chosen by the first byte:
// 0 the record, 1 the key receipt, 2 the stamp, 3 the expected TD. The others are fixed: the
// committed live record and its service key, a key receipt naming that key around the real TDX
// quote of the shared folder, that quote's collateral and Intel's root. In mode 2 the key
// receipt is the subject of the timestamp seeds, so mutated stamps reach a valid verdict.
// Nothing here may be valid (no genuine quote binds the service key), and the result must
// always be the sum of its three checks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/hex.h"
#include "core/text.h"
#include "core/time_text.h"
#include "fuzz_dcap_fixture.h"
#include "fuzz_timestamp_authority.h"
#include "tdx/attested_record.h"

namespace {

constexpr std::string_view kExpected =
    "{\"schema\":\"orvelant/expected-td/v1\",\"td_attributes\":\"0000000000000000\",\"xfam\":\"0000000000000000\","
    "\"mr_td\":\"00\",\"mr_config_id\":\"00\",\"mr_owner\":\"00\",\"mr_owner_config\":\"00\",\"rt_mr0\":\"00\","
    "\"rt_mr1\":\"00\",\"rt_mr2\":\"00\",\"app_id\":\"00\",\"compose_hash\":\"00\",\"os_image_hash\":\"00\","
    "\"key_provider\":\"00\",\"min_tcb_evaluation_data_number\":0}";

std::string record;
std::string key_receipt;
std::string snapshot;
std::vector<uint8_t> root;

std::string source_file(const char* relative) {
  std::ifstream in(std::string(ORV_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  record = source_file("tests/data/live/valid.json");
  const std::string key(orv::trim_unicode(source_file("tests/data/live/service-key.hex")));
  const std::string dir = "testdata/tdx-real/tee-solver-dstack/";
  const auto quote = orv::fuzz::read_shared(dir + "quote_alice.bin");
  const auto events = orv::fuzz::read_shared(dir + "event_log.json");
  const auto collateral = orv::fuzz::read_shared(dir + "quote_collateral.json");
  const auto root_der = orv::fuzz::read_shared("trust/intel-sgx-root-ca.der");
  key_receipt = "{\"schema\":\"orvelant/live-key-receipt/v1\",\"alg\":\"ML-DSA-65\",\"public_key_hex\":\"" + key +
                "\",\"quote_hex\":\"" + (quote ? orv::hex_encode(orv::as_bytes(*quote)) : std::string("00")) +
                "\",\"event_log\":" + (events ? *events : std::string("[]")) + ",\"issued_at\":\"2025-09-15T12:00:00Z\"}";
  snapshot =
      "{\"schema\":\"orvelant/intel-collateral-snapshot/v1\",\"fetched_at\":\"2025-09-15T00:00:00Z\","
      "\"source\":\"fuzz\",\"collateral\":" +
      (collateral ? *collateral : std::string("{}")) + "}";
  if (root_der) root.assign(root_der->begin(), root_der->end());
  if (record.empty() || key.empty()) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const orv::tsa::PinnedAuthority authorities[] = {orv::fuzz::test_authority()};
  if (size == 0) return 0;
  const uint8_t mode = data[0] % 4;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  orv::tdx::AttestedRecordInputs in{record,       key_receipt,         snapshot, kExpected,
                                    std::nullopt, orv::fuzz::kRealNow, root,     authorities};
  if (mode == 0) in.record = input;
  if (mode == 1) in.key_receipt = input;
  if (mode == 2) {
    in.key_receipt = orv::fuzz::kTimestampSubject;
    in.stamp = input;
    in.now = orv::fuzz::kTimestampNow;
  }
  if (mode == 3) in.expected_td = input;
  const orv::tdx::AttestedRecordReport report = orv::tdx::verify_attested_record(in);

  if (report.valid) std::abort();  // only a SHA-512 preimage or a broken check gets here
  if (report.outcome == orv::Outcome::Valid) std::abort();
  if ((report.outcome == orv::Outcome::Refused) != (report.level2.outcome == orv::Outcome::Refused)) std::abort();
  if (report.timestamp.has_value() != in.stamp.has_value()) std::abort();
  const bool stamp_valid = report.timestamp && report.timestamp->valid;
  if (report.key_receipt_no_later_than.has_value() != stamp_valid) std::abort();
  if (stamp_valid && report.key_receipt_no_later_than != report.timestamp->no_later_than) std::abort();
  if (report.level2.evaluated_at != orv::utc_time_text(in.now)) std::abort();

  // The result is exactly the sum of its checks: each of their problems once, in order, and
  // only the two of its own.
  const bool no_key = !report.problems.empty() && report.problems[0].code == "PARSE" &&
                      report.problems[0].message == "key receipt: not strict JSON with exactly one public_key_hex";
  // Without a key Level 2 had no pin, and there is no key id.
  if (no_key && (report.key_id || report.level2.outcome != orv::Outcome::Refused)) std::abort();
  std::vector<orv::Problem> expected;
  if (no_key) expected.push_back(report.problems[0]);
  for (const orv::Problem& p : report.level2.problems) {
    if (!no_key || p.code != "PIN_MISSING") expected.push_back({p.code, "key receipt: " + p.message});
  }
  if (report.record.format != orv::sig::ReceiptFormat::LiveRecord && report.record.problems.empty()) {
    expected.push_back({"UNKNOWN_FORMAT", "the document is not a live-service record"});
  }
  for (const orv::Problem& p : report.record.problems) expected.push_back({p.code, "record: " + p.message});
  if (report.timestamp) {
    for (const orv::Problem& p : report.timestamp->problems) expected.push_back({p.code, "timestamp: " + p.message});
  }
  if (report.problems != expected) std::abort();
  return 0;
}
