// PPM compression beside zlib and bzip2 on the same input: the compressed
// size as a share of the input ("ratio") and the throughput per level, for
// compression and decompression. Where a `7z` program is installed, its PPMd
// runs as a child process at the same order and memory as the engine's levels
// 4 to 6 (Engine_/Peer_ pairs; the child's start-up is part of its time);
// without one those cases are skipped.
#include <benchmark/benchmark.h>
#include <bzlib.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "BenchRatio.h"
#include "foundation/VEXPPM.h"

namespace {

// About 1 MiB of what the engine stores in BLOBs: record-like lines with
// names, dates and amounts, and free text notes.
const std::vector<uint8_t>& Corpus() {
  static const std::vector<uint8_t> corpus = [] {
    static const char* kNames[] = {"Miller", "Okafor",  "Lindqvist", "Rossi",  "Nakamura",
                                   "Dubois", "Schmidt", "Novak",     "Garcia", "Kowalski"};
    static const char* kWords[] = {"guest",   "asked", "for", "a",         "late",     "check-out",
                                   "room",    "with",  "sea", "view",      "the",      "booking",
                                   "was",     "moved", "to",  "breakfast", "included", "and",
                                   "parking", "paid",  "on",  "arrival",   "deposit",  "received"};
    std::mt19937 rng(2024);
    std::string text;
    while (text.size() < (1u << 20)) {
      char line[160];
      std::snprintf(line, sizeof line, "%06u;%s;2026-%02u-%02u;%u;%u.%02u;",
                    unsigned(100000 + rng() % 900000), kNames[rng() % 10], unsigned(1 + rng() % 12),
                    unsigned(1 + rng() % 28), unsigned(1 + rng() % 14), unsigned(40 + rng() % 400),
                    unsigned(rng() % 100));
      text += line;
      for (unsigned n = rng() % 12; n > 0; --n) {
        text += kWords[rng() % 24];
        text += ' ';
      }
      text += '\n';
    }
    text.resize(1u << 20);
    return std::vector<uint8_t>(text.begin(), text.end());
  }();
  return corpus;
}

void Report(benchmark::State& state, size_t packed) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Corpus().size()));
  state.counters["ratio"] = double(packed) / double(Corpus().size());
}

void BM_PpmCompress(benchmark::State& state) {
  const auto& in = Corpus();
  int32_t packed = 0;
  for (auto _ : state) {
    void* out = nullptr;
    vex::PpmCompressBuffer(in.data(), int32_t(in.size()), out, packed, int32_t(state.range(0)));
    std::free(out);
  }
  Report(state, size_t(packed));
}

void BM_PpmDecompress(benchmark::State& state) {
  const auto& in = Corpus();
  void* packed = nullptr;
  int32_t packedSize = 0;
  vex::PpmCompressBuffer(in.data(), int32_t(in.size()), packed, packedSize,
                         int32_t(state.range(0)));
  for (auto _ : state) {
    void* out = nullptr;
    int32_t size = int32_t(in.size());
    vex::PpmDecompressBuffer(packed, packedSize, out, size);
    std::free(out);
  }
  std::free(packed);
  Report(state, size_t(packedSize));
}

// Engine and 7-Zip at one level's order and memory, on the same corpus.
void Engine_PpmCompress(benchmark::State& state) { BM_PpmCompress(state); }
void Engine_PpmDecompress(benchmark::State& state) { BM_PpmDecompress(state); }

bool HaveSevenZip() {
  static const bool found = std::system("command -v 7z >/dev/null 2>&1") == 0;
  return found;
}

// The corpus as a file in a directory of its own, removed afterwards.
struct SevenZipFiles {
  std::string dir, input, archive;
  SevenZipFiles() {
    char pattern[] = "/tmp/ppm_bench_XXXXXX";
    dir = mkdtemp(pattern) ? pattern : "/tmp";
    input = dir + "/corpus.bin";
    archive = dir + "/corpus.7z";
    if (FILE* f = std::fopen(input.c_str(), "wb")) {
      std::fwrite(Corpus().data(), 1, Corpus().size(), f);
      std::fclose(f);
    }
  }
  ~SevenZipFiles() {
    std::remove(archive.c_str());
    std::remove(input.c_str());
    rmdir(dir.c_str());
  }
};

std::string SevenZipPack(const SevenZipFiles& files, int64_t level) {
  const vex::TVEXPPMLevel l = vex::PpmLevel(int32_t(level));
  return "rm -f '" + files.archive + "' && 7z a -t7z -mmt=1 -m0=PPMd:o=" +
         std::to_string(l.MaxOrder) + ":mem=" + std::to_string(l.MemMB) + "m '" + files.archive +
         "' '" + files.input + "' >/dev/null 2>&1";
}

void Peer_PpmCompress(benchmark::State& state) {
  if (!HaveSevenZip()) {
    state.SkipWithError("no 7z program installed");
    return;
  }
  SevenZipFiles files;
  const std::string command = SevenZipPack(files, state.range(0));
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("7z failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Corpus().size()));
}

void Peer_PpmDecompress(benchmark::State& state) {
  if (!HaveSevenZip()) {
    state.SkipWithError("no 7z program installed");
    return;
  }
  SevenZipFiles files;
  if (std::system(SevenZipPack(files, state.range(0)).c_str()) != 0) {
    state.SkipWithError("7z failed");
    return;
  }
  const std::string command = "7z e -so '" + files.archive + "' >/dev/null 2>&1";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("7z failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Corpus().size()));
}

void BM_ZlibCompress(benchmark::State& state) {
  const auto& in = Corpus();
  std::vector<uint8_t> out(compressBound(uLong(in.size())));
  uLongf packed = 0;
  for (auto _ : state) {
    packed = uLongf(out.size());
    if (compress2(out.data(), &packed, in.data(), uLong(in.size()), int(state.range(0))) != Z_OK)
      state.SkipWithError("zlib failed");
  }
  Report(state, packed);
}

void BM_ZlibDecompress(benchmark::State& state) {
  const auto& in = Corpus();
  std::vector<uint8_t> packed(compressBound(uLong(in.size())));
  uLongf packedSize = uLongf(packed.size());
  compress2(packed.data(), &packedSize, in.data(), uLong(in.size()), int(state.range(0)));
  std::vector<uint8_t> out(in.size());
  for (auto _ : state) {
    uLongf size = uLongf(out.size());
    if (uncompress(out.data(), &size, packed.data(), packedSize) != Z_OK)
      state.SkipWithError("zlib failed");
  }
  Report(state, packedSize);
}

void BM_Bzip2Compress(benchmark::State& state) {
  const auto& in = Corpus();
  std::vector<char> out(in.size() + in.size() / 50 + 600);
  unsigned packed = 0;
  for (auto _ : state) {
    packed = unsigned(out.size());
    if (BZ2_bzBuffToBuffCompress(out.data(), &packed,
                                 const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                                 unsigned(in.size()), int(state.range(0)), 0, 0) != BZ_OK)
      state.SkipWithError("bzip2 failed");
  }
  Report(state, packed);
}

void BM_Bzip2Decompress(benchmark::State& state) {
  const auto& in = Corpus();
  std::vector<char> packed(in.size() + in.size() / 50 + 600);
  unsigned packedSize = unsigned(packed.size());
  BZ2_bzBuffToBuffCompress(packed.data(), &packedSize,
                           const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                           unsigned(in.size()), int(state.range(0)), 0, 0);
  std::vector<char> out(in.size());
  for (auto _ : state) {
    unsigned size = unsigned(out.size());
    if (BZ2_bzBuffToBuffDecompress(out.data(), &size, packed.data(), packedSize, 0, 0) != BZ_OK)
      state.SkipWithError("bzip2 failed");
  }
  Report(state, packedSize);
}

}  // namespace

BENCHMARK(BM_PpmCompress)->DenseRange(1, 9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PpmDecompress)->DenseRange(1, 9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCompress)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDecompress)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bzip2Compress)->Arg(1)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bzip2Decompress)->Arg(1)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(Engine_PpmCompress)->DenseRange(4, 6)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Peer_PpmCompress)->DenseRange(4, 6)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Engine_PpmDecompress)->DenseRange(4, 6)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Peer_PpmDecompress)->DenseRange(4, 6)->Unit(benchmark::kMillisecond)->UseRealTime();

VALMORA_BENCH_MAIN()
