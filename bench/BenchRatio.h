// Shared main for the benchmark programs that measure the engine beside a peer
// library in the same run. A benchmark named "Engine_<case>" and one named
// "Peer_<case>" (same suffix, arguments included) form a pair; after the
// ordinary table the program prints, per pair, engine time ÷ peer time: above
// 1 the peer is that many times faster, below 1 the engine is.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // With repetitions the median stands for the case; otherwise the run.
      const std::string name = run.run_name.str();
      if (run.run_type != Run::RT_Aggregate) {
        FRunTimes[name] = run.GetAdjustedRealTime();
      } else if (run.aggregate_name == "median") {
        FMedianTimes[name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    bool header = false;
    std::map<std::string, double> times = FRunTimes;
    for (const auto& [name, time] : FMedianTimes) times[name] = time;
    for (const auto& [name, engineTime] : times) {
      if (name.rfind("Engine_", 0) != 0) continue;
      const auto peer = times.find("Peer_" + name.substr(7));
      if (peer == times.end() || peer->second <= 0) continue;
      if (!header) {
        std::printf("\n%-60s %14s\n", "case", "engine / peer");
        header = true;
      }
      std::printf("%-60s %14.2f\n", name.substr(7).c_str(), engineTime / peer->second);
    }
    std::fflush(stdout);
  }

 private:
  std::map<std::string, double> FRunTimes;
  std::map<std::string, double> FMedianTimes;
};

inline int RunWithRatios(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench

#define VALMORA_BENCH_MAIN() \
  int main(int argc, char** argv) { return bench::RunWithRatios(argc, argv); }
