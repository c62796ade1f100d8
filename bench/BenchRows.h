// The rows, keys and set-up that the table, storage and SQL benchmarks share,
// so that both engines in each of them, and the programs among themselves,
// work on the same data.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "components/VEXEngineState.h"
#include "foundation/VEXStartup.h"
#include "sql/expression/VEXExpression.h"
#include "support/ScratchDir.h"

namespace benchrows {

// One folder for every database file of the run.
inline testsupport::ScratchDir& Scratch() {
  static testsupport::ScratchDir dir;
  return dir;
}

// "guest 0000042 " padded to Size with a letter that varies by row.
inline std::string GuestText(int32_t i, int32_t Size) {
  char head[32];
  std::snprintf(head, sizeof head, "guest %07d ", i);
  std::string text(head);
  text.resize(static_cast<size_t>(Size), static_cast<char>('a' + i % 26));
  return text;
}
// 0.5 .. 1999.5, spread evenly.
inline double AmountOf(int32_t i) { return (i * 37) % 2000 + 0.5; }
// Days since 1899-12-30.
inline double DayOf(int32_t i) { return 46000.0 + i % 365; }

// Count keys drawn from 0 .. Rows - 1, the same on every run.
inline std::vector<int32_t> RandomKeys(int32_t Count, int32_t Rows) {
  std::mt19937 random(41);
  std::uniform_int_distribution<int32_t> pick(0, Rows - 1);
  std::vector<int32_t> keys(static_cast<size_t>(Count));
  for (int32_t& k : keys) k = pick(random);
  return keys;
}

// A per_op column: the time of one of Operations per iteration.
inline void PerOperation(benchmark::State& State, int32_t Operations) {
  State.counters["per_op"] = benchmark::Counter(
      Operations, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Starts the engine with its components and SQL once; it stops at exit, after
// every table that lives until then, as long as this ran before they were made.
inline void StartEngineOnce() {
  struct EngineStarted {
    EngineStarted() {
      vex::AddComponentsStartupSteps();
      vex::AddSqlStartupSteps();
      vex::StartEngine();
    }
    ~EngineStarted() { vex::StopEngine(); }
  };
  static EngineStarted started;
}

}  // namespace benchrows
