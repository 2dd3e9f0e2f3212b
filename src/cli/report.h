// From a verdict to what the run prints and the exit status it ends with.
#pragma once

#include <string>
#include <string_view>

#include "cli/render_json.h"
#include "cli/render_text.h"
#include "sig/chain.h"
#include "tdx/attested_record.h"
#include "tdx/key_chain.h"
#include "tdx/log_evidence.h"

namespace orv::cli {

// key-chain and log-evidence never refuse, so their status follows `valid` alone (0 or 1);
// every other kind ends with its outcome's status.
int report_status(const sig::ReceiptVerdict& v);
int report_status(const sig::ChainReport& r);
int report_status(const tdx::Level2Report& r);
int report_status(const tsa::TimestampReport& r);
int report_status(const tdx::KeyChainReport& r);
int report_status(const tdx::AttestedRecordReport& r);
int report_status(const tdx::LogEvidenceReport& r);

struct Report {
  std::string output;  // exactly what goes to standard output
  int status = 2;
};

template <class Verdict>
Report make_report(const Verdict& verdict, std::string_view path, bool json) {
  return Report{json ? render_json(verdict) : render_text(verdict, path), report_status(verdict)};
}

}  // namespace orv::cli
