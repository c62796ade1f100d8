// Comparison of two texts as index keys and ORDER BY compare them
// (CompareValues), beside ICU's ucol_strcoll with the same collator
// attributes (root order, non-ignorable punctuation, tertiary strength or
// secondary to ignore case, normalisation on) on texts already in UTF-16: the
// raw speed of the collation itself.
#include <unicode/ucol.h>

#include <random>
#include <string>
#include <vector>

#include "BenchRatio.h"
#include "foundation/VEXValueCompare.h"
#include "rtl/CodePage.h"

namespace {

// Guest names as 8-bit (Windows-1252) text, some with accents, in pairs that
// often share a prefix.
const std::vector<std::string>& Names() {
  static const std::vector<std::string> names = [] {
    static const char* kFamily[] = {"Miller", "Okafor", "Lindqvist", "Rossi", "Nakamura",
                                    "Dubois", "Schmidt", "Novak", "Garc\xED" "a", "M\xFCller"};
    static const char* kGiven[] = {"Anna", "Anne", "Jos\xE9", "Jonas", "Lea",
                                   "L\xE9o", "Maria", "Mario", "Zo\xEB", "Zoe"};
    std::mt19937 rng(11);
    std::vector<std::string> v;
    for (int i = 0; i < 1024; ++i) {
      v.push_back(std::string(kFamily[rng() % 10]) + ", " + kGiven[rng() % 10]);
    }
    return v;
  }();
  return names;
}

const std::vector<std::u16string>& WideNames() {
  static const std::vector<std::u16string> names = [] {
    std::vector<std::u16string> v;
    for (const std::string& s : Names()) v.push_back(rtl::Win1252ToUtf16(s));
    return v;
  }();
  return names;
}

void Engine_Compare8(benchmark::State& state) {
  const auto& names = Names();
  const bool ignoreCase = state.range(0) != 0;
  size_t i = 0;
  for (auto _ : state) {
    const std::string& a = names[i & 1023];
    const std::string& b = names[(i + 1) & 1023];
    benchmark::DoNotOptimize(vex::CompareValues(a.c_str(), b.c_str(), vex::bftVarchar,
                                                vex::bftVarchar, false, false, -1, ignoreCase));
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}

void Engine_CompareWide(benchmark::State& state) {
  const auto& names = WideNames();
  const bool ignoreCase = state.range(0) != 0;
  size_t i = 0;
  for (auto _ : state) {
    const std::u16string& a = names[i & 1023];
    const std::u16string& b = names[(i + 1) & 1023];
    benchmark::DoNotOptimize(vex::CompareValues(a.c_str(), b.c_str(), vex::bftWideVarchar,
                                                vex::bftWideVarchar, false, false, -1, ignoreCase));
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}

void PeerCompare(benchmark::State& state) {
  const auto& names = WideNames();
  UErrorCode status = U_ZERO_ERROR;
  UCollator* collator = ucol_open("root", &status);
  ucol_setAttribute(collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  ucol_setAttribute(collator, UCOL_STRENGTH, state.range(0) ? UCOL_SECONDARY : UCOL_TERTIARY,
                    &status);
  ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
  size_t i = 0;
  for (auto _ : state) {
    const std::u16string& a = names[i & 1023];
    const std::u16string& b = names[(i + 1) & 1023];
    benchmark::DoNotOptimize(ucol_strcoll(collator, a.data(), int32_t(a.size()), b.data(),
                                          int32_t(b.size())));
    ++i;
  }
  ucol_close(collator);
  state.SetItemsProcessed(state.iterations());
}

void Peer_Compare8(benchmark::State& state) { PeerCompare(state); }
void Peer_CompareWide(benchmark::State& state) { PeerCompare(state); }

BENCHMARK(Engine_Compare8)->Arg(0)->Arg(1);
BENCHMARK(Peer_Compare8)->Arg(0)->Arg(1);
BENCHMARK(Engine_CompareWide)->Arg(0)->Arg(1);
BENCHMARK(Peer_CompareWide)->Arg(0)->Arg(1);

}  // namespace

VALMORA_BENCH_MAIN()
