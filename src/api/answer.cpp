#include "api/answer.h"

#include <optional>
#include <string>
#include <vector>

#include "api/input_limits.h"
#include "core/text.h"

namespace orv::api {
namespace {

struct Input {
  std::string label;
  std::string_view bytes;
  uint64_t limit = kDocumentLimit;
  bool text = true;  // every input but a timestamped file is UTF-8 text
};

// The first input, in the command line's reading order, that it would have refused to read.
std::optional<std::string> first_refused(const std::vector<Input>& inputs) {
  for (const Input& in : inputs) {
    if (in.bytes.size() > in.limit) {
      return in.label + " is larger than the " + decimal(in.limit) + "-byte limit; refusing to read it";
    }
    if (in.text && !is_valid_utf8(in.bytes)) return in.label + " is not UTF-8 text";
  }
  return std::nullopt;
}

void add_list(std::vector<Input>& inputs, std::string_view label, const std::vector<std::string>& list, uint64_t limit) {
  for (size_t i = 0; i < list.size(); ++i) inputs.push_back({std::string(label) + " " + decimal(i + 1), list[i], limit});
}

template <class Judge>
Reply checked(const std::vector<Input>& inputs, const ReportFormat& format, const Judge& judge) {
  if (std::optional<std::string> refused = first_refused(inputs)) return Reply{2, {}, std::move(*refused)};
  if (!is_valid_utf8(format.label)) return Reply{2, {}, "the label is not UTF-8 text"};
  return make_reply(judge(), format);
}

}  // namespace

Reply answer(const ReceiptInputs& in, const ReportFormat& format, const Verifiers& v) {
  return checked({{"document", in.document}, {"key", in.key, kKeyLimit}}, format, [&] { return v.receipt(in); });
}

Reply answer(const ChainInputs& in, const ReportFormat& format, const Verifiers& v) {
  std::vector<Input> inputs{{"chain", in.document, kChainLimit}, {"key", in.key, kKeyLimit}};
  add_list(inputs, "head", in.heads, kHeadLimit);
  return checked(inputs, format, [&] { return v.chain(in); });
}

Reply answer(const KeyReceiptInputs& in, uint64_t now, const ReportFormat& format, const Verifiers& v) {
  return checked(
      {{"key receipt", in.document}, {"key", in.key, kKeyLimit}, {"snapshot", in.snapshot}, {"expected TD", in.expected}}, format,
      [&] { return v.key_receipt(in, now); });
}

Reply answer(const TimestampInputs& in, uint64_t now, const ReportFormat& format, const Verifiers& v) {
  return checked({{"file", in.document, kTimestampedFileLimit, false}, {"stamp", in.stamp}}, format,
                 [&] { return v.timestamp(in, now); });
}

Reply answer(const KeyChainInputs& in, uint64_t now, const ReportFormat& format, const Verifiers& v) {
  std::vector<Input> inputs{{"chain", in.history, kHistoryLimit}};
  add_list(inputs, "kept receipt", in.contains, kDocumentLimit);
  if (in.snapshot) inputs.push_back({"snapshot", *in.snapshot});
  add_list(inputs, "expected TD", in.expected, kDocumentLimit);
  if (in.snapshot.has_value() == in.expected.empty()) {
    return Reply{2, {}, "key-chain Level 2 needs both a snapshot and at least one expected TD"};
  }
  return checked(inputs, format, [&] { return v.key_chain(in, now); });
}

Reply answer(const AttestedRecordInputs& in, uint64_t now, const ReportFormat& format, const Verifiers& v) {
  std::vector<Input> inputs{
      {"record", in.record}, {"key receipt", in.key_receipt}, {"snapshot", in.snapshot}, {"expected TD", in.expected}};
  if (in.stamp) inputs.push_back({"stamp", *in.stamp});
  return checked(inputs, format, [&] { return v.attested_record(in, now); });
}

Reply answer(const LogEvidenceInputs& in, const ReportFormat& format, const Verifiers& v) {
  return checked({{"receipt", in.receipt}, {"log evidence", in.evidence, kEvidenceLimit}}, format,
                 [&] { return v.log_evidence(in); });
}

}  // namespace orv::api
