// The engine's counted bitmap: growth by one bit at a time and a walk over
// the set bits by position, the ways the storage engine uses it for its page
// maps. The peer is std::vector<bool> doing the same work with a running count
// kept by the caller, the shape a linear implementation has.
#include <vector>

#include "BenchRatio.h"
#include "foundation/VEXTypes.h"

namespace {

void Engine_GrowByOne(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    vex::TVEXBitsArray bits;
    for (int32_t i = 0; i < n; ++i) {
      bits.SetSize(i + 1);
      if (i % 3 == 0) bits.SetBit(i, true);
    }
    benchmark::DoNotOptimize(bits.NonZeroBitCount());
  }
}

void Peer_GrowByOne(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    std::vector<bool> bits;
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i) {
      bits.push_back(false);
      if (i % 3 == 0) {
        bits[i] = true;
        ++count;
      }
    }
    benchmark::DoNotOptimize(count);
  }
}

// Visits every set bit by its position, then asks each one's position back.
void Engine_WalkByPosition(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  vex::TVEXBitsArray bits;
  bits.SetSize(n);
  for (int32_t i = 0; i < n; i += 3) bits.SetBit(i, true);
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t k = 0; k < bits.NonZeroBitCount(); ++k) {
      const int32_t bitNo = bits.GetBitNoByBitPosition(k);
      sum += bits.GetBitPositionByBitNo(bitNo);
    }
    benchmark::DoNotOptimize(sum);
  }
}

void Peer_WalkByPosition(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  std::vector<bool> bits(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; i += 3) bits[static_cast<size_t>(i)] = true;
  for (auto _ : state) {
    int64_t sum = 0;
    int32_t position = 0;
    for (int32_t i = 0; i < n; ++i) {
      if (bits[static_cast<size_t>(i)]) sum += position++;
    }
    benchmark::DoNotOptimize(sum);
  }
}

BENCHMARK(Engine_GrowByOne)->Arg(30000)->Arg(300000)->Unit(benchmark::kMillisecond);
BENCHMARK(Peer_GrowByOne)->Arg(30000)->Arg(300000)->Unit(benchmark::kMillisecond);
BENCHMARK(Engine_WalkByPosition)->Arg(30000)->Arg(300000)->Unit(benchmark::kMillisecond);
BENCHMARK(Peer_WalkByPosition)->Arg(30000)->Arg(300000)->Unit(benchmark::kMillisecond);

}  // namespace

VALMORA_BENCH_MAIN()
