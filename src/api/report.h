// From a verdict to the report the caller asked for and the exit status the command ends with.
#pragma once

#include <string>
#include <string_view>

#include "api/render_json.h"
#include "api/render_text.h"
#include "sig/chain.h"
#include "tdx/attested_record.h"
#include "tdx/key_chain.h"
#include "tdx/log_evidence.h"

namespace orv::api {

// key-chain and log-evidence never refuse, so their status follows `valid` alone (0 or 1);
// every other kind ends with its outcome's status.
int report_status(const sig::ReceiptVerdict& v);
int report_status(const sig::ChainReport& r);
int report_status(const tdx::Level2Report& r);
int report_status(const tsa::TimestampReport& r);
int report_status(const tdx::KeyChainReport& r);
int report_status(const tdx::AttestedRecordReport& r);
int report_status(const tdx::LogEvidenceReport& r);

struct ReportFormat {
  bool json = true;
  std::string_view label;  // the document's name in a text report (the command line's path)
  // When set, the report goes here instead of into Reply::report.
  const ReportSink* sink = nullptr;
};

// A report, or why the inputs could not be judged (then `report` is empty and `status` 2).
struct Reply {
  int status = 2;
  std::string report;
  std::string error;
};

// A report rendered whole, to the format's sink when it has one, else in the reply.
Reply deliver(int status, std::string report, const ReportFormat& format);

template <class Verdict>
Reply make_reply(const Verdict& verdict, const ReportFormat& format) {
  return deliver(report_status(verdict), format.json ? render_json(verdict) : render_text(verdict, format.label), format);
}

// A chain's JSON report goes to the sink as it is rendered: for a long chain it is the largest
// thing the run would otherwise hold.
Reply make_reply(const sig::ChainReport& report, const ReportFormat& format);

}  // namespace orv::api
