// One call per command: the inputs' bytes are checked as the command line checks the files it
// reads (byte limits, UTF-8), then the command's verifier judges them and its verdict becomes
// the report. The command line and the C interface both come through here, so they cannot
// disagree. Each verifier used must be present in the table.
#pragma once

#include <cstdint>

#include "api/report.h"
#include "api/verifiers.h"

namespace orv::api {

Reply answer(const ReceiptInputs& in, const ReportFormat& format, const Verifiers& verifiers);
Reply answer(const ChainInputs& in, const ReportFormat& format, const Verifiers& verifiers);
Reply answer(const KeyReceiptInputs& in, uint64_t now, const ReportFormat& format, const Verifiers& verifiers);
Reply answer(const TimestampInputs& in, uint64_t now, const ReportFormat& format, const Verifiers& verifiers);
Reply answer(const KeyChainInputs& in, uint64_t now, const ReportFormat& format, const Verifiers& verifiers);
Reply answer(const AttestedRecordInputs& in, uint64_t now, const ReportFormat& format, const Verifiers& verifiers);
Reply answer(const LogEvidenceInputs& in, const ReportFormat& format, const Verifiers& verifiers);

}  // namespace orv::api
