// Quote decoding over arbitrary bytes: never a crash, and whatever decodes is self-consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "dcap/quote.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> raw(data, size);
  const orv::Expected<orv::dcap::Quote, orv::dcap::Failure> quote = orv::dcap::decode_quote(raw);
  if (!quote) {
    if (quote.error().message != "Failed to decode quote" || quote.error().causes.empty()) std::abort();
    return 0;
  }
  const orv::dcap::Quote& q = *quote;
  // A decoded quote holds its signed part in full, and its report matches its version.
  const auto scope = orv::dcap::signed_scope(q, raw);
  if (!scope || scope->size() != q.signed_length || q.signed_length > size) std::abort();
  const bool v5 = q.header.version == 5;
  if (v5 != q.body.has_value()) std::abort();
  if (q.header.version == 3 && q.report_kind() != orv::dcap::ReportKind::SgxEnclave) std::abort();
  if (q.report_kind() == orv::dcap::ReportKind::TdReport15 && !v5) std::abort();
  if ((q.td_report10() != nullptr) == (q.report_kind() == orv::dcap::ReportKind::SgxEnclave)) std::abort();
  if (q.auth_data.certification_data.body.size() > orv::dcap::kMaxDataLength) std::abort();
  (void)orv::dcap::check_header(q.header);
  (void)orv::dcap::check_report(q, false, false);
  (void)orv::dcap::decode_enclave_report(q.auth_data.qe_report);
  return 0;
}
