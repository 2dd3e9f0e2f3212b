// ML-DSA-65 verification speed over a 300-byte message with a 14-byte context, the shape of
// the signatures this tool checks. The fixture comes from tests/data/mldsa65.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/hex.h"
#include "bench_files.h"
#include "crypto/mldsa65.h"

namespace {

struct Fixture {
  std::vector<uint8_t> pk, msg, ctx, sig;
};

Fixture load_fixture() {
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
  return {field("pk"), field("msg"), field("ctx"), field("sig")};
}

void BM_Mldsa65Verify(benchmark::State& state) {
  static const Fixture f = load_fixture();
  if (!orv::crypto::mldsa65_verify(f.pk, f.msg, f.ctx, f.sig)) {
    state.SkipWithError("the fixture signature does not verify");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(orv::crypto::mldsa65_verify(f.pk, f.msg, f.ctx, f.sig));
  }
  state.counters["verifications_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Mldsa65Verify)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
