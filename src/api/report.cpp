#include "api/report.h"

namespace orv::api {

int report_status(const sig::ReceiptVerdict& v) { return exit_status(v.outcome); }
int report_status(const sig::ChainReport& r) { return exit_status(r.outcome); }
int report_status(const tdx::Level2Report& r) { return exit_status(r.outcome); }
int report_status(const tsa::TimestampReport& r) { return exit_status(r.outcome); }
int report_status(const tdx::KeyChainReport& r) { return r.valid ? 0 : 1; }
int report_status(const tdx::AttestedRecordReport& r) { return exit_status(r.outcome); }
int report_status(const tdx::LogEvidenceReport& r) { return r.valid ? 0 : 1; }

Reply deliver(int status, std::string report, const ReportFormat& format) {
  if (format.sink == nullptr) return Reply{status, std::move(report), {}};
  (*format.sink)(report);
  return Reply{status, {}, {}};
}

Reply make_reply(const sig::ChainReport& report, const ReportFormat& format) {
  if (format.json && format.sink != nullptr) {
    render_json(report, *format.sink);
    return Reply{report_status(report), {}, {}};
  }
  return deliver(report_status(report), format.json ? render_json(report) : render_text(report, format.label), format);
}

}  // namespace orv::api
