// The stamp-file reader over arbitrary text, with the fixed test authority as the only pinned one.
// Whatever the input, the verdict must be coherent: valid exactly without problems, a time only
// when valid, and never more stamps than tokens a file may hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz_timestamp_authority.h"
#include "tsa/stamp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const orv::tsa::PinnedAuthority authorities[] = {orv::fuzz::test_authority()};
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const orv::tsa::TimestampReport report =
      orv::tsa::verify_stamp_file(orv::fuzz::kTimestampSubject, text, authorities, orv::fuzz::kTimestampNow);
  if (report.valid != report.problems.empty()) std::abort();
  if (report.valid != (report.outcome == orv::Outcome::Valid)) std::abort();
  if (report.outcome == orv::Outcome::Refused) std::abort();  // only a missing file refuses
  if (report.no_later_than.has_value() != report.valid) std::abort();
  if (report.stamps.size() > orv::tsa::kMaxStampTokens) std::abort();
  if (report.valid && report.stamps.empty()) std::abort();
  if (report.evaluated_at != "2025-06-01T13:00:00Z") std::abort();
  return 0;
}
