// The JSON report of a long chain, with invalid entries among its valid ones, stays the same
// bytes whichever way it is delivered: the digest below was taken from the report as the whole
// document was once built in memory, before the report was written piece by piece.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/hex.h"
#include "crypto/digest.h"
#include "orvelant/verify.h"
#include "support/notary.h"

namespace orv::test {
namespace {

constexpr int kEntries = 2000;
constexpr std::string_view kReportSha256 = "24dfe5c7557f8c9d2892033f46551d942212a20e2e9d39b8d7ae9c90b2090f7b";

// Every document is made from seeded keys, so the chain, and with it the report, is the same
// on every run.
struct LongChain {
  P384TestKey notary{"long chain notary"};
  P384TestKey agent{"long chain agent"};
  std::string text;
  std::string head;

  explicit LongChain(int entries) {
    std::string prev = "GENESIS";
    std::string first;
    for (int serial = 1; serial <= entries; ++serial) {
      LabReceiptBuilder builder(notary, agent, serial % 500 == 7 ? "not the previous hash" : prev, serial);
      // A tier a report must escape, in a fact and in a problem's message.
      if (serial % 250 == 0) builder.set(builder.part("meter"), "tier", "gold \"\x01\"\t\xc3\xa9");
      builder.finish();
      if (serial % 333 == 0) builder.set(builder.receipt, "broker_signature_hex", notary.sign_hex("another core"));
      text += builder.text() + "\n";
      prev = builder.receipt_hash();
      if (serial == 1) first = prev;
      if (serial == entries / 2) head = chain_head(notary, first, serial, prev);
    }
  }
};

int collect(void* context, const char* data, size_t size) {
  static_cast<std::string*>(context)->append(data, size);
  return 0;
}

TEST(LongChainReport, IsTheSameBytesInTheReturnedTextAndThroughTheWriteCallback) {
  const LongChain chain(kEntries);
  const std::string key = chain.notary.public_pem();
  const orv_bytes head{chain.head.data(), chain.head.size()};
  const auto verify = [&](const orv_options& options) {
    return orv_verify_chain({chain.text.data(), chain.text.size()}, {key.data(), key.size()}, {&head, 1}, &options);
  };

  orv_options options{sizeof(orv_options), ORV_FORMAT_JSON, {}, nullptr, nullptr, nullptr, nullptr};
  orv_report* returned = verify(options);
  size_t size = 0;
  const char* text = orv_report_text(returned, &size);
  EXPECT_EQ(orv_report_status(returned), ORV_STATUS_INVALID);
  EXPECT_EQ(crypto::sha256_hex(as_bytes(std::string_view(text, size))), kReportSha256);
  orv_report_free(returned);

  std::string written;
  options.write = collect;
  options.write_context = &written;
  orv_report* streamed = verify(options);
  EXPECT_EQ(orv_report_status(streamed), ORV_STATUS_INVALID);
  EXPECT_EQ(crypto::sha256_hex(as_bytes(written)), kReportSha256);
  orv_report_free(streamed);
}

// A report of several pieces: once the writer gives up, it is not called again.
TEST(LongChainReport, StopsAtTheFirstPieceTheWriterRefuses) {
  const LongChain chain(200);
  const std::string key = chain.notary.public_pem();
  int calls = 0;
  orv_options options{sizeof(orv_options), ORV_FORMAT_JSON, {}, nullptr, &calls, nullptr, nullptr};
  options.write = [](void* context, const char*, size_t) { return ++*static_cast<int*>(context); };
  orv_report* report = orv_verify_chain({chain.text.data(), chain.text.size()}, {key.data(), key.size()}, {}, &options);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(orv_report_status(report), ORV_STATUS_REFUSED);
  EXPECT_STREQ(orv_report_error(report), "the write callback stopped the report");
  orv_report_free(report);
}

}  // namespace
}  // namespace orv::test
