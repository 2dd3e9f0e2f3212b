#include "cli/report.h"

namespace orv::cli {

int report_status(const ReceiptVerdict& v) { return exit_status(v.outcome); }
int report_status(const ChainReport& r) { return exit_status(r.outcome); }
int report_status(const Level2Report& r) { return exit_status(r.outcome); }
int report_status(const TimestampReport& r) { return exit_status(r.outcome); }
int report_status(const KeyChainReport& r) { return r.valid ? 0 : 1; }
int report_status(const AttestedRecordReport& r) { return exit_status(r.outcome); }
int report_status(const LogEvidenceReport& r) { return r.valid ? 0 : 1; }

}  // namespace orv::cli
