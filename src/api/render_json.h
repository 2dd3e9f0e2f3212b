// The --json report of each verdict kind: one pretty-printed object and a newline. It holds
// the full values, raw (no terminal escaping), and never the document path.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "sig/chain.h"
#include "tdx/attested_record.h"
#include "tdx/key_chain.h"
#include "tdx/log_evidence.h"

namespace orv::api {

std::string render_json(const sig::ReceiptVerdict& verdict);
std::string render_json(const sig::ChainReport& report);
// Receives a report piece by piece, in order; false stops the report (nothing more is sent).
using ReportSink = std::function<bool(std::string_view piece)>;
// A chain's report in pieces of a few dozen kilobytes, as its entries are decoded: the whole
// report of a long chain is never held, neither as a tree nor as one text.
void render_json(const sig::ChainReport& report, const ReportSink& sink);
std::string render_json(const tdx::Level2Report& report);
std::string render_json(const tsa::TimestampReport& report);
std::string render_json(const tdx::KeyChainReport& report);
std::string render_json(const tdx::AttestedRecordReport& report);
std::string render_json(const tdx::LogEvidenceReport& report);

}  // namespace orv::api
