// Lab receipts: notary-countersigned records of one confidential job, with the hash links
// between manifest, attestation and execution record inside the receipt core.
#pragma once

#include <string_view>

#include "json/document.h"
#include "sig/notary_pin.h"
#include "sig/verdict.h"

namespace orv::sig {

// The whole check of one parsed lab receipt under the pinned notary key text.
ReceiptVerdict check_lab_receipt(const json::Value& document, std::string_view pinned_key);

// The same check under a pin already read (a chain reads it once for all its lines).
ReceiptVerdict check_lab_receipt(const json::Value& document, const NotaryPin& pin);

}  // namespace orv::sig
