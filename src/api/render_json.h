// The --json report of each verdict kind: one pretty-printed object and a newline. It holds
// the full values, raw (no terminal escaping), and never the document path.
#pragma once

#include <string>

#include "sig/chain.h"
#include "tdx/attested_record.h"
#include "tdx/key_chain.h"
#include "tdx/log_evidence.h"

namespace orv::api {

std::string render_json(const sig::ReceiptVerdict& verdict);
std::string render_json(const sig::ChainReport& report);
std::string render_json(const tdx::Level2Report& report);
std::string render_json(const tsa::TimestampReport& report);
std::string render_json(const tdx::KeyChainReport& report);
std::string render_json(const tdx::AttestedRecordReport& report);
std::string render_json(const tdx::LogEvidenceReport& report);

}  // namespace orv::api
