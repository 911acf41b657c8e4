// The reporter of the benchmark programs: console output as usual, plus the
// median of each benchmark's repetitions, so that a program can print the
// ratio of each pair (ours against the peer measured in the same run) at the
// end. CPU time is kept too: on a loaded machine it is the steadier figure.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

class TMedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs)
      if (r.aggregate_name == "median") {
        // Benchmarks with arguments are told apart by them: "BM_X/2".
        const std::string key =
            r.run_name.args.empty() ? r.run_name.function_name : r.run_name.function_name + "/" + r.run_name.args;
        Times[key] = r.GetAdjustedRealTime();
        CpuTimes[key] = r.GetAdjustedCPUTime();
      }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> Times, CpuTimes;
};
