#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sig/chain_entries.h"

namespace orv::sig {
namespace {

ReceiptVerdict verdict(int i, size_t value_size) {
  ReceiptVerdict v;
  v.format = i % 2 == 0 ? ReceiptFormat::LabReceipt : ReceiptFormat::Refusal;
  v.outcome = i % 3 == 0 ? Outcome::Valid : Outcome::Invalid;
  v.valid = v.outcome == Outcome::Valid;
  if (!v.valid) v.problems = {{"METER", std::string(value_size, 'm'), 7}, {"HASH_MISMATCH", "", 0}};
  v.facts = {{"receipt_hash", std::string(value_size + 1, 'h')}, {"tier", ""}};
  v.intermediate = {{"signed_bytes_len", std::to_string(i)}};
  v.scope = i % 2 == 0 ? "receipt scope" : "refusal scope";
  return v;
}

// Entries of every size class: one-byte and multi-byte lengths, several per block, one that
// fills a block alone and one larger than a block.
TEST(ChainEntries, GiveBackEveryVerdictInOrderAcrossBlocks) {
  const std::vector<size_t> sizes = {0, 127, 128, 300000, 300000, 300000, 1048576, 1600000, 16384};
  ChainEntries entries;
  for (size_t i = 0; i < sizes.size(); ++i) entries.push_back(verdict(static_cast<int>(i), sizes[i]));
  ASSERT_EQ(entries.size(), sizes.size());

  size_t i = 0;
  for (const ReceiptVerdict& got : entries) {
    const ReceiptVerdict want = verdict(static_cast<int>(i), sizes[i]);
    EXPECT_EQ(got.format, want.format) << i;
    EXPECT_EQ(got.outcome, want.outcome) << i;
    EXPECT_EQ(got.valid, want.valid) << i;
    EXPECT_EQ(got.problems, want.problems) << i;
    EXPECT_EQ(got.facts, want.facts) << i;
    EXPECT_EQ(got.intermediate, want.intermediate) << i;
    EXPECT_EQ(got.scope, want.scope) << i;
    ++i;
  }
  EXPECT_EQ(i, sizes.size());
}

}  // namespace
}  // namespace orv::sig
