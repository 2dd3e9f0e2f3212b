// The human-readable report of each verdict kind: header, problems, body, scope, RESULT line.
// Every value that came from an input or the command line is made terminal-safe.
#pragma once

#include <string>
#include <string_view>

#include "sig/chain.h"
#include "tdx/attested_record.h"
#include "tdx/key_chain.h"
#include "tdx/log_evidence.h"

namespace orv::api {

// `path` is the document path as typed.
std::string render_text(const sig::ReceiptVerdict& verdict, std::string_view path);
std::string render_text(const sig::ChainReport& report, std::string_view path);
std::string render_text(const tdx::Level2Report& report, std::string_view path);
std::string render_text(const tsa::TimestampReport& report, std::string_view path);
std::string render_text(const tdx::KeyChainReport& report, std::string_view path);
std::string render_text(const tdx::AttestedRecordReport& report, std::string_view path);
std::string render_text(const tdx::LogEvidenceReport& report, std::string_view path);

}  // namespace orv::api
