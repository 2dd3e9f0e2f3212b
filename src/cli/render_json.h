// The --json report of each verdict kind: one pretty-printed object and a newline. It holds
// the full values, raw (no terminal escaping), and never the document path.
#pragma once

#include <string>

#include "core/verdict.h"

namespace orv::cli {

std::string render_json(const ReceiptVerdict& verdict);
std::string render_json(const ChainReport& report);
std::string render_json(const Level2Report& report);
std::string render_json(const TimestampReport& report);
std::string render_json(const KeyChainReport& report);
std::string render_json(const AttestedRecordReport& report);
std::string render_json(const LogEvidenceReport& report);

}  // namespace orv::cli
