// Quote verification speed on real Intel TDX quotes and their real collateral (from the shared
// folder beside the checkout): the whole verification, the per-quote part against collateral
// verified once, and next to them the two ECDSA P-256 verifications every quote needs (the
// quote signature and the QE report signature), measured in the same run. The per-quote cost
// is printed as a ratio to those two; the target is at most three P-256 verifications (1.5).
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_files.h"
#include "crypto/ecdsa_p256.h"
#include "crypto/x509.h"
#include "dcap/collateral_chain.h"
#include "dcap/collateral_json.h"
#include "dcap/verify.h"
#include "rate_reporter.h"

namespace {

// 2025-09-15T00:00:00Z, inside the window of every piece of the collateral.
constexpr uint64_t kNow = 1757894400;

struct Fixture {
  std::vector<uint8_t> root;
  std::vector<uint8_t> quote;
  std::vector<uint8_t> other_quote;  // another TD on the same platform, under the same collateral
  orv::dcap::QuoteCollateralV3 collateral;
  orv::dcap::AcceptancePolicy policy;
};

const Fixture& fixture() {
  static const Fixture f = [] {
    Fixture out;
    const auto dir = orv::bench::shared_dir() / "testdata/tdx-real/tee-solver-dstack";
    const std::string root = orv::bench::read_or_exit(orv::bench::shared_dir() / "trust/intel-sgx-root-ca.der");
    const std::string quote = orv::bench::read_or_exit(dir / "quote_alice.bin");
    const std::string other_quote = orv::bench::read_or_exit(dir / "quote_bob.bin");
    out.root.assign(root.begin(), root.end());
    out.quote.assign(quote.begin(), quote.end());
    out.other_quote.assign(other_quote.begin(), other_quote.end());
    const std::string text = orv::bench::read_or_exit(dir / "quote_collateral.json");
    const orv::Expected<orv::json::Document, std::string> doc = orv::json::parse(text);
    orv::Expected<orv::dcap::QuoteCollateralV3, std::string> parsed =
        doc ? orv::dcap::read_collateral(doc->root())
            : orv::Expected<orv::dcap::QuoteCollateralV3, std::string>(orv::fail(doc.error()));
    if (!parsed) {
      std::fprintf(stderr, "cannot read the sample collateral: %s\n", parsed.error().c_str());
      std::exit(1);
    }
    out.collateral = std::move(parsed).value();
    out.policy.min_tcb_evaluation_data_number = 17;
    return out;
  }();
  return f;
}

// The two signature checks of a quote, with their keys already parsed.
void BM_TwoP256Verifications(benchmark::State& state) {
  const Fixture& f = fixture();
  const orv::Expected<orv::dcap::Quote, orv::dcap::Failure> quote = orv::dcap::decode_quote(f.quote);
  const orv::dcap::AuthData& auth = quote->auth_data;
  const auto attestation = orv::crypto::P256PublicKey::from_point(auth.ecdsa_attestation_key);
  const std::string_view chain(reinterpret_cast<const char*>(auth.certification_data.body.data()),
                               auth.certification_data.body.size());
  const auto ders = orv::dcap::split_pem_certificates(chain);
  const auto leaf = orv::crypto::decode_certificate(ders->front());
  const auto pck = leaf ? orv::crypto::P256PublicKey::from_pkey(X509_get0_pubkey(leaf->get())) : std::nullopt;
  const std::span<const uint8_t> scope = std::span(f.quote).first(quote->signed_length);
  if (!attestation || !pck || !attestation->verify(scope, auth.ecdsa_signature) ||
      !pck->verify(auth.qe_report, auth.qe_report_signature)) {
    state.SkipWithError("the fixture signatures do not verify");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(attestation->verify(scope, auth.ecdsa_signature));
    benchmark::DoNotOptimize(pck->verify(auth.qe_report, auth.qe_report_signature));
  }
  state.counters["per_second"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_FullQuoteVerification(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    auto result = orv::dcap::verify_and_accept(f.quote, f.collateral, f.root, kNow, f.policy);
    if (!result) {
      state.SkipWithError(result.error().text().c_str());
      return;
    }
    benchmark::DoNotOptimize(result);
  }
}

// The collateral remembers the last quote judged against it by its exact bytes, so the two
// quotes take turns: every iteration judges a quote other than the one before it, and the
// figure is a quote's own cost (the platform's PCK chain, validated once, is reused as it is
// for every quote of one platform).
void BM_QuoteWithVerifiedCollateral(benchmark::State& state) {
  const Fixture& f = fixture();
  const auto collateral = orv::dcap::verify_collateral(f.collateral, f.root, kNow);
  if (!collateral) {
    state.SkipWithError(collateral.error().text().c_str());
    return;
  }
  const std::vector<uint8_t>* quotes[] = {&f.quote, &f.other_quote};
  size_t turn = 0;
  for (auto _ : state) {
    auto result = orv::dcap::verify_and_accept(*quotes[turn ^= 1], *collateral, f.policy);
    if (!result) {
      state.SkipWithError(result.error().text().c_str());
      return;
    }
    benchmark::DoNotOptimize(result);
  }
  state.counters["per_second"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_CollateralVerification(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) benchmark::DoNotOptimize(orv::dcap::verify_collateral(f.collateral, f.root, kNow));
}

BENCHMARK(BM_TwoP256Verifications)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullQuoteVerification)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QuoteWithVerifiedCollateral)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CollateralVerification)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  orv::bench::RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double pairs = reporter.rate("BM_TwoP256Verifications");
  const double quotes = reporter.rate("BM_QuoteWithVerifiedCollateral");
  if (pairs > 0 && quotes > 0) {
    std::printf("\nper quote %.1f us = %.2f x two P-256 verifications (%.1f us; target <= 1.5)\n", 1e6 / quotes, pairs / quotes,
                1e6 / pairs);
  }
  benchmark::Shutdown();
  return 0;
}
