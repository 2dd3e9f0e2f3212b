#include "sig/receipt.h"

#include <string>

#include "json/document.h"
#include "json/record.h"
#include "sig/lab_receipt.h"
#include "sig/live_record.h"
#include "sig/refusal.h"
#include "sig/scope.h"

namespace orv::sig {
namespace {

constexpr uint64_t kDocumentLimit = 1048576;
constexpr uint64_t kPinnedKeyLimit = 65536;

// A verdict reached before the format is known: it names no format and carries the
// lab-receipt scope text.
ReceiptVerdict undetected(Problem problem) {
  ReceiptVerdict verdict;
  verdict.scope = kLabReceiptScope;
  return settled(std::move(verdict), std::move(problem));
}

bool is_refusal(const json::Value& document) {
  const json::Value* core = json::member(document, "core");
  if (core == nullptr || !core->IsObject()) return false;
  const json::Value* schema = json::member(*core, "schema");
  return schema != nullptr && schema->IsString() &&
         std::string_view(schema->GetString(), schema->GetStringLength()) == kRefusalSchema;
}

bool has_members(const json::Value& document, std::string_view a, std::string_view b) {
  return json::member(document, a) != nullptr && json::member(document, b) != nullptr;
}

}  // namespace

std::string_view format_word(ReceiptFormat format) {
  switch (format) {
    case ReceiptFormat::LabReceipt: return "lab-receipt";
    case ReceiptFormat::LiveRecord: return "live-record";
    case ReceiptFormat::Refusal: return "refusal";
    case ReceiptFormat::Unknown: return "unknown";
  }
  return "unknown";
}

ReceiptFormat detect_format(const json::Value& document) {
  if (is_refusal(document) && json::member(document, "broker_signature_hex") != nullptr) {
    return ReceiptFormat::Refusal;
  }
  if (has_members(document, "core", "broker_signature_hex")) return ReceiptFormat::LabReceipt;
  if (has_members(document, "record", "signature_hex")) return ReceiptFormat::LiveRecord;
  return ReceiptFormat::Unknown;
}

ReceiptVerdict check_receipt(std::string_view document, std::string_view pinned_key) {
  if (auto problem = json::size_guard("the document", document.size(), kDocumentLimit); !problem.ok()) {
    return undetected(std::move(problem).error());
  }
  if (auto problem = json::size_guard("the pinned key", pinned_key.size(), kPinnedKeyLimit); !problem.ok()) {
    return undetected(std::move(problem).error());
  }
  Expected<json::Document, std::string> parsed = json::parse(document);
  if (!parsed) return undetected({"PARSE", "document is not JSON: " + parsed.error()});
  if (auto violation = json::strict_check(document); !violation.ok()) {
    return undetected({"NON_CANONICAL_JSON", "document is not strict JSON: " + violation.error()});
  }

  const json::Value& root = parsed->root();
  switch (detect_format(root)) {
    case ReceiptFormat::LiveRecord: return check_live_record(root, pinned_key);
    case ReceiptFormat::LabReceipt: return check_lab_receipt(root, pinned_key);
    case ReceiptFormat::Refusal: return check_refusal(root, pinned_key);
    case ReceiptFormat::Unknown: break;
  }
  return undetected(
      {"UNKNOWN_FORMAT", "not a lab receipt (core + broker_signature_hex) or a live record (record + signature_hex)"});
}

}  // namespace orv::sig
