#include "api/report.h"

namespace orv::api {

int report_status(const sig::ReceiptVerdict& v) { return exit_status(v.outcome); }
int report_status(const sig::ChainReport& r) { return exit_status(r.outcome); }
int report_status(const tdx::Level2Report& r) { return exit_status(r.outcome); }
int report_status(const tsa::TimestampReport& r) { return exit_status(r.outcome); }
int report_status(const tdx::KeyChainReport& r) { return r.valid ? 0 : 1; }
int report_status(const tdx::AttestedRecordReport& r) { return exit_status(r.outcome); }
int report_status(const tdx::LogEvidenceReport& r) { return r.valid ? 0 : 1; }

}  // namespace orv::api
