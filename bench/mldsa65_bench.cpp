// ML-DSA-65 verification speed over a 300-byte message with a 14-byte context, the shape of
// the signatures this tool checks, for our verifier and, where the OpenSSL found has ML-DSA
// (3.5 and later), for OpenSSL's in the same run: from the key's bytes as our verifier takes
// them, and with the key decoded once (a context per verification is all that is left). Each
// also reports the heap allocations one verification makes. The fixture comes from
// tests/data/mldsa65.
#include <benchmark/benchmark.h>
#include <openssl/crypto.h>
#include <rapidjson/document.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_files.h"
#include "core/hex.h"
#include "crypto/mldsa65.h"
#include "rate_reporter.h"
#include "support/allocation_counter.h"
#include "support/openssl_mldsa65.h"

namespace {

namespace openssl_mldsa65 = orv::test::openssl_mldsa65;

struct Fixture {
  std::vector<uint8_t> pk, msg, ctx, sig;
};

const Fixture& fixture() {
  static const Fixture f = [] {
    const auto path = orv::bench::source_dir() / "tests/data/mldsa65/bench-300.json";
    const std::string text = orv::bench::read_or_exit(path);
    rapidjson::Document doc;
    doc.Parse(text.c_str());
    if (doc.HasParseError() || !doc.IsObject()) {
      std::fprintf(stderr, "cannot parse %s\n", path.c_str());
      std::exit(1);
    }
    auto field = [&](const char* name) {
      const auto& v = doc[name];
      return orv::hex_decode({v.GetString(), v.GetStringLength()}).value_or(std::vector<uint8_t>{});
    };
    return Fixture{field("pk"), field("msg"), field("ctx"), field("sig")};
  }();
  return f;
}

// Times one verifier on the fixture, after checking that it accepts it, and reports its rate
// and the allocations of one verification (the second, once any one-time set-up is done).
void run(benchmark::State& state, const std::function<bool()>& verify) {
  if (!verify()) {
    state.SkipWithError("the fixture signature does not verify");
    return;
  }
  orv::test::AllocationCount count;
  verify();
  const size_t allocations = count.stop();
  for (auto _ : state) benchmark::DoNotOptimize(verify());
  state.counters["per_second"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  if (orv::test::kAllocationsCounted) state.counters["allocations"] = static_cast<double>(allocations);
}

void BM_Mldsa65Verify(benchmark::State& state) {
  const Fixture& f = fixture();
  run(state, [&] { return orv::crypto::mldsa65_verify(f.pk, f.msg, f.ctx, f.sig); });
}

void BM_OpenSslMldsa65VerifyFromKeyBytes(benchmark::State& state) {
  const Fixture& f = fixture();
  run(state, [&] { return openssl_mldsa65::verify(f.pk, f.msg, f.ctx, f.sig); });
}

void BM_OpenSslMldsa65VerifyDecodedKey(benchmark::State& state) {
  const Fixture& f = fixture();
  const orv::crypto::PkeyPtr key = openssl_mldsa65::decode_public_key(f.pk);
  run(state, [&] { return key && openssl_mldsa65::verify(key.get(), f.msg, f.ctx, f.sig); });
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RegisterBenchmark("BM_Mldsa65Verify", BM_Mldsa65Verify)->Unit(benchmark::kMicrosecond);
  const bool openssl = openssl_mldsa65::available();
  if (openssl) {
    benchmark::RegisterBenchmark("BM_OpenSslMldsa65VerifyFromKeyBytes", BM_OpenSslMldsa65VerifyFromKeyBytes)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_OpenSslMldsa65VerifyDecodedKey", BM_OpenSslMldsa65VerifyDecodedKey)
        ->Unit(benchmark::kMicrosecond);
  }
  orv::bench::RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double ours = reporter.rate("BM_Mldsa65Verify");
  const double theirs = reporter.rate("BM_OpenSslMldsa65VerifyDecodedKey");
  if (!openssl) {
    std::printf("\n%s has no ML-DSA-65: only our verifier was measured\n", OpenSSL_version(OPENSSL_VERSION));
  } else if (ours > 0 && theirs > 0) {
    std::printf(
        "\nverifications/s: ours %.0f, %s %.0f with the key decoded once, %.0f from its bytes "
        "(ours = %.2f x OpenSSL's best)\n",
        ours, OpenSSL_version(OPENSSL_VERSION), theirs, reporter.rate("BM_OpenSslMldsa65VerifyFromKeyBytes"), ours / theirs);
  }
  benchmark::Shutdown();
  return 0;
}
