// The engine's CRC-32 beside zlib's crc32 (the same polynomial; zlib inverts
// the value at both ends, the engine at neither), and WipeBytes beside plain
// memset, which the compiler may drop but here cannot, as the buffer is used.
#include <zlib.h>

#include <cstring>
#include <vector>

#include "BenchRatio.h"
#include "foundation/VEXDecUtil.h"
#include "foundation/VEXStream.h"

namespace {

constexpr int32_t kPage = 4096;

void Engine_Crc32(benchmark::State& state) {
  std::vector<uint8_t> page(kPage, 0x5A);
  for (auto _ : state) benchmark::DoNotOptimize(vex::UpdateCrc32(0, page.data(), kPage));
  state.SetBytesProcessed(state.iterations() * kPage);
}

void Peer_Crc32(benchmark::State& state) {
  std::vector<uint8_t> page(kPage, 0x5A);
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0, page.data(), kPage));
  state.SetBytesProcessed(state.iterations() * kPage);
}

void Engine_Wipe(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> buffer(size, 1);
  for (auto _ : state) {
    vex::WipeBytes(buffer.data(), size, 0);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Peer_Wipe(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> buffer(size, 1);
  for (auto _ : state) {
    std::memset(buffer.data(), 0, size);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(Engine_Crc32);
BENCHMARK(Peer_Crc32);
BENCHMARK(Engine_Wipe)->Arg(64)->Arg(4096);
BENCHMARK(Peer_Wipe)->Arg(64)->Arg(4096);

}  // namespace

VALMORA_BENCH_MAIN()
