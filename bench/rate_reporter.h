// Keeps each benchmark's "per_second" counter so that a program can print ratios between
// benchmarks measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace orv::bench {

class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const auto it = run.counters.find("per_second");
      if (it != run.counters.end()) rates[run.benchmark_name()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // By benchmark name; 0 for one that did not run.
  double rate(const std::string& name) const {
    const auto it = rates.find(name);
    return it == rates.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> rates;
};

}  // namespace orv::bench
