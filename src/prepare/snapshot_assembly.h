// A collateral snapshot assembled from Intel's responses as the user saved them, each mistake
// refused by name with what to do, and the result verified with orvelant-verify's own code
// before it is handed out. Pure: bytes in, document out.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "prepare/key_receipt.h"
#include "prepare/outcome.h"

namespace orv::prepare {

struct SavedResponse {
  std::string body;
  std::optional<std::string> headers;  // absent when no headers file was saved
};

struct SnapshotInputs {
  SavedResponse tcb_info;
  SavedResponse qe_identity;
  SavedResponse pck_crl;
  SavedResponse root_ca_crl;           // its headers are optional: the file server sends no chain
  std::optional<uint64_t> fetched_at;  // given by the user; else the responses' Date headers
  // The receipt the snapshot is for: its quote and platform must match the collateral, and
  // the quote must verify with it.
  const ReceiptQuote* receipt = nullptr;
  std::span<const uint8_t> intel_root_der;
};

struct AssembledSnapshot {
  std::string text;  // the snapshot document, canonical JSON and a line feed
  uint64_t fetched_at = 0;
  bool fetched_at_from_dates = false;
  std::string fmspc;
  uint32_t tcb_evaluation_data_number = 0;  // the smaller of the two documents'
  int64_t valid_until = 0;                  // the earliest expiry of its pieces
  std::string valid_until_what;             // which piece expires first
};

Usable<AssembledSnapshot> assemble_snapshot(const SnapshotInputs& inputs);

}  // namespace orv::prepare
