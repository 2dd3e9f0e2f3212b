// From a verdict to what the run prints and the exit status it ends with.
#pragma once

#include <string>
#include <string_view>

#include "cli/render_json.h"
#include "cli/render_text.h"
#include "core/verdict.h"

namespace orv::cli {

// key-chain and log-evidence never refuse, so their status follows `valid` alone (0 or 1);
// every other kind ends with its outcome's status.
int report_status(const ReceiptVerdict& v);
int report_status(const ChainReport& r);
int report_status(const Level2Report& r);
int report_status(const TimestampReport& r);
int report_status(const KeyChainReport& r);
int report_status(const AttestedRecordReport& r);
int report_status(const LogEvidenceReport& r);

struct Report {
  std::string output;  // exactly what goes to standard output
  int status = 2;
};

template <class Verdict>
Report make_report(const Verdict& verdict, std::string_view path, bool json) {
  return Report{json ? render_json(verdict) : render_text(verdict, path), report_status(verdict)};
}

}  // namespace orv::cli
