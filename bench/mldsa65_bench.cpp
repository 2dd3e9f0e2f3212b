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
#include "crypto/mldsa65.h"

namespace {

std::filesystem::path source_dir() {
#ifdef ORV_SOURCE_DIR
  return ORV_SOURCE_DIR;
#else
  return std::filesystem::path(__FILE__).parent_path().parent_path();
#endif
}

struct Fixture {
  std::vector<uint8_t> pk, msg, ctx, sig;
};

Fixture load_fixture() {
  const auto path = source_dir() / "tests/data/mldsa65/bench-300.json";
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  rapidjson::Document doc;
  doc.Parse(text.str().c_str());
  if (!in || doc.HasParseError() || !doc.IsObject()) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
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
