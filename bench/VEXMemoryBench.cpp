// Allocation churn through the engine's memory manager (guarded blocks and a
// process-wide byte count) beside malloc/free, on one and on four threads.
#include <cstdlib>

#include "BenchRatio.h"
#include "foundation/VEXMemory.h"

namespace {

// Sizes of record buffers, keys and small values.
constexpr int64_t kSizes[] = {24, 64, 200, 1000, 48, 4096, 16, 512};

void Engine_Churn(benchmark::State& state) {
  void* blocks[8];
  for (auto _ : state) {
    for (int i = 0; i < 8; ++i) blocks[i] = vex::MemoryManager->GetMem(kSizes[i]);
    benchmark::DoNotOptimize(blocks);
    for (int i = 0; i < 8; ++i) vex::MemoryManager->FreeMem(blocks[i]);
  }
  state.SetItemsProcessed(state.iterations() * 8);
}

void Peer_Churn(benchmark::State& state) {
  void* blocks[8];
  for (auto _ : state) {
    for (int i = 0; i < 8; ++i) blocks[i] = std::malloc(static_cast<size_t>(kSizes[i]));
    benchmark::DoNotOptimize(blocks);
    for (int i = 0; i < 8; ++i) std::free(blocks[i]);
  }
  state.SetItemsProcessed(state.iterations() * 8);
}

BENCHMARK(Engine_Churn)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(Peer_Churn)->Threads(1)->Threads(4)->UseRealTime();

}  // namespace

VALMORA_BENCH_MAIN()
