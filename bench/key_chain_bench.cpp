// Key-receipt histories at Level 2: a generated history of 10,000 v3 receipts on the test Intel
// PKI, judged against one snapshot and two expected-TD files (the first matches no receipt, so
// every receipt is judged twice), reported per receipt next to one key-receipt Level 2
// evaluation measured in the same run. The history's collateral is verified once per run; the
// single evaluation verifies it as the key-receipt command does.
//
// With --write-history DIR BYTES it instead writes a valid history of at most BYTES to
// DIR/history.jsonl, with DIR/snapshot.json and DIR/expected-td.json, for the memory script.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/hex.h"
#include "support/tdx_history.h"
#include "tdx/key_chain.h"
#include "tdx/level2.h"

namespace {

constexpr size_t kHistoryReceipts = 10000;

struct Fixture {
  orv::test::KeyHistory history;
  std::string text;
  std::string snapshot;
  std::vector<std::string> expected;  // a configuration that never ran, then the one that did
  std::vector<uint8_t> root;
};

std::string other_configuration(std::string expected) {
  const size_t at = expected.find("\"app_id\":\"");
  if (at == std::string::npos) {
    std::fprintf(stderr, "the expected-TD fixture has no app_id\n");
    std::exit(1);
  }
  const size_t value = at + 10;
  expected[value] = expected[value] == 'f' ? 'e' : 'f';
  return expected;
}

const Fixture& fixture() {
  static const Fixture f = [] {
    Fixture out;
    for (size_t i = 0; i < kHistoryReceipts; ++i) out.history.append(orv::tdx::kReceiptSchemaV3);
    out.text = out.history.text();
    out.snapshot = out.history.scenario.snapshot_json();
    const std::string expected = out.history.scenario.expected_json();
    out.expected = {other_configuration(expected), expected};
    out.root = out.history.scenario.dcap.root_der();
    return out;
  }();
  return f;
}

void BM_KeyReceiptLevel2(benchmark::State& state) {
  const Fixture& f = fixture();
  const std::string& receipt = f.history.lines.back();
  const std::string key = orv::hex_encode(orv::test::KeyHistory::boot_key(kHistoryReceipts));
  const orv::tdx::Level2Inputs inputs{receipt, key, f.snapshot, f.expected[1], f.history.scenario.now(), f.root};
  if (!orv::tdx::evaluate_level2(inputs).report.valid) {
    state.SkipWithError("the last receipt does not pass Level 2 on its own");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(orv::tdx::evaluate_level2(inputs));
}

void BM_HistoryLevel2PerReceipt(benchmark::State& state) {
  const Fixture& f = fixture();
  const orv::tdx::KeyChainInputs inputs{f.text, {}, f.snapshot, f.expected, f.history.scenario.now(), f.root};
  const orv::tdx::KeyChainReport first = orv::tdx::verify_key_chain(inputs);
  if (!first.valid || first.key_ids.size() != kHistoryReceipts) {
    state.SkipWithError("the generated history is not valid at Level 2");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(orv::tdx::verify_key_chain(inputs));
  // Seconds per receipt, printed with its SI prefix (u for microseconds).
  state.counters["per_receipt"] =
      benchmark::Counter(kHistoryReceipts, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_KeyReceiptLevel2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HistoryLevel2PerReceipt)->Unit(benchmark::kMillisecond)->Iterations(2);

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

int write_history(const std::string& dir, size_t limit) {
  orv::test::KeyHistory history;
  size_t size = 0;
  while (true) {
    const std::string& line = history.append(orv::tdx::kReceiptSchemaV3);
    if (size + line.size() + 1 > limit) {
      history.lines.pop_back();
      break;
    }
    size += line.size() + 1;
  }
  write_file(dir + "/history.jsonl", history.text() + "\n");
  write_file(dir + "/snapshot.json", history.scenario.snapshot_json());
  write_file(dir + "/expected-td.json", history.scenario.expected_json());
  std::printf("%zu receipts\n", history.lines.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--write-history") {
    return write_history(argv[2], std::strtoull(argv[3], nullptr, 10));
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
