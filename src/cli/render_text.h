// The human-readable report of each verdict kind: header, problems, body, scope, RESULT line.
// Every value that came from an input or the command line is made terminal-safe.
#pragma once

#include <string>
#include <string_view>

#include "core/verdict.h"

namespace orv::cli {

// `path` is the document path as typed.
std::string render_text(const ReceiptVerdict& verdict, std::string_view path);
std::string render_text(const ChainReport& report, std::string_view path);
std::string render_text(const Level2Report& report, std::string_view path);
std::string render_text(const TimestampReport& report, std::string_view path);
std::string render_text(const KeyChainReport& report, std::string_view path);
std::string render_text(const AttestedRecordReport& report, std::string_view path);
std::string render_text(const LogEvidenceReport& report, std::string_view path);

}  // namespace orv::cli
