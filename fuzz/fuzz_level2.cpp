// The whole Level 2 evaluation at a fixed time under the compiled-in Intel root. The input is
// split at NUL bytes into receipt, pinned key, snapshot and expected TD; seeds are built from
// a real quote and its collateral when the shared samples are present (see the Makefile).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "tdx/level2.h"
#include "trust/trust.h"

namespace {

constexpr uint64_t kEvaluatedAt = 1757937600;  // 2025-09-15T12:00:00Z, inside the sample's window

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> parts;
  while (parts.size() < 4) {
    const size_t cut = input.find('\0');
    parts.push_back(input.substr(0, cut));
    if (cut == std::string_view::npos) break;
    input.remove_prefix(cut + 1);
  }
  parts.resize(4);
  const orv::tdx::Level2Result result = orv::tdx::evaluate_level2(
      {parts[0], parts[1], parts[2], parts[3], kEvaluatedAt, orv::trust::Trust::builtin().intel_root_der});
  const orv::tdx::Level2Report& report = result.report;
  if (report.valid != report.problems.empty() || report.valid != (report.outcome == orv::Outcome::Valid)) std::abort();
  // The seeds' placeholder key is bound by no real quote: nothing grown from them may pass.
  if (report.valid) std::abort();
  return 0;
}
