// Chain verification speed against its bound: each lab receipt costs two P-384 verifications
// (notary countersignature and agent signature), so receipts per second are compared with half
// the raw P-384 verification rate measured in the same run.
//
//   chain_bench                         run the benchmarks and print the ratio
//   chain_bench --write-chain DIR BYTES write a valid chain of about BYTES and its notary key
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "core/hex.h"
#include "crypto/ecdsa.h"
#include "rate_reporter.h"
#include "sig/chain.h"
#include "sig/pem.h"
#include "support/notary.h"

namespace {

constexpr int kChainLength = 2000;

struct ChainFixture {
  orv::test::P384TestKey notary;
  orv::test::P384TestKey agent;
  std::string chain;
  ChainFixture() : chain(orv::test::lab_receipt_chain(notary, agent, kChainLength).text()) {}
};

const ChainFixture& fixture() {
  static const ChainFixture f;
  return f;
}

void BM_P384Verify(benchmark::State& state) {
  const ChainFixture& f = fixture();
  const auto der = orv::sig::read_p384_public_key_pem(f.notary.public_pem());
  const auto key = orv::crypto::P384PublicKey::from_spki(*der);
  const std::string message = "a message of the size of a receipt core";
  const auto signature = orv::hex_decode(f.notary.sign_hex(message));
  if (!key->verify(orv::as_bytes(message), *signature)) state.SkipWithError("fixture signature does not verify");
  for (auto _ : state) benchmark::DoNotOptimize(key->verify(orv::as_bytes(message), *signature));
  state.counters["per_second"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_P384Verify)->Unit(benchmark::kMicrosecond);

void BM_Chain2000(benchmark::State& state) {
  const ChainFixture& f = fixture();
  const std::string pin = f.notary.public_pem();
  if (!orv::sig::check_chain(f.chain, {}, pin).valid) state.SkipWithError("fixture chain is not valid");
  for (auto _ : state) benchmark::DoNotOptimize(orv::sig::check_chain(f.chain, {}, pin));
  state.counters["per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kChainLength, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Chain2000)->Unit(benchmark::kMillisecond)->MinTime(3.0);

int write_chain(const char* dir, long long bytes) {
  orv::test::P384TestKey notary, agent;
  std::ofstream chain(std::string(dir) + "/chain.jsonl", std::ios::binary);
  std::ofstream(std::string(dir) + "/notary.pem") << notary.public_pem();
  std::string prev = "GENESIS";
  long long written = 0;
  for (int serial = 1; written < bytes; ++serial) {
    orv::test::LabReceiptBuilder builder(notary, agent, prev, serial);
    builder.finish();
    const std::string line = builder.text() + "\n";
    if (written + static_cast<long long>(line.size()) > bytes) break;
    chain << line;
    written += static_cast<long long>(line.size());
    prev = builder.receipt_hash();
  }
  std::printf("wrote %lld bytes\n", written);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--write-chain") return write_chain(argv[2], std::atoll(argv[3]));
  benchmark::Initialize(&argc, argv);
  orv::bench::RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double p384 = reporter.rate("BM_P384Verify");
  const double receipts = reporter.rate("BM_Chain2000/min_time:3.000");
  if (p384 > 0 && receipts > 0) {
    const double bound = p384 / 2;
    std::printf(
        "\nP-384 verifications/s %.0f; bound %.0f receipts/s; chain %.0f receipts/s = %.2f of the bound "
        "(target >= 0.85)\n",
        p384, bound, receipts, receipts / bound);
  }
  benchmark::Shutdown();
  return 0;
}
