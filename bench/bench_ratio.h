// Runs the registered Google Benchmark cases and keeps each one's time per
// iteration, so that a benchmark program can print its figures as ratios of two
// cases measured side by side in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  TRatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      FTimes[run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args)] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // CPU time per iteration of a case, 0 when it did not run.
  double Time(const std::string& name) const {
    auto it = FTimes.find(name);
    return it == FTimes.end() ? 0 : it->second;
  }
  // cost(a) / cost(b): below 1 means a is cheaper.
  double Ratio(const std::string& a, const std::string& b) const {
    double tb = Time(b);
    return tb > 0 ? Time(a) / tb : 0;
  }

 private:
  std::map<std::string, double> FTimes;
};

// Initialises the library, runs every case with the reporter and returns it.
inline void RunRatioBenchmarks(int argc, char** argv, TRatioReporter& reporter) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
