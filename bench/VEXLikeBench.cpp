// LIKE matching beside SQLite's LIKE (sqlite3_strlike, case-insensitive like
// the engine's case-insensitive form): wildcard patterns on long text of one
// letter, which make a matcher that tries every split take forever, and an
// ordinary filter on ordinary text.
#include <sqlite3.h>

#include <random>
#include <string>

#include "BenchRatio.h"
#include "foundation/VEXConverts.h"

namespace {

const std::string& Letters() {
  static const std::string text(30000, 'a');
  return text;
}

// About 30,000 characters of booking notes.
const std::string& Notes() {
  static const std::string text = [] {
    static const char* kWords[] = {"guest", "asked", "for",  "a",     "late",  "check-out",
                                   "room",  "with",  "sea",  "view",  "the",   "booking",
                                   "was",   "moved", "to",   "paid",  "on",    "arrival"};
    std::mt19937 rng(7);
    std::string s;
    while (s.size() < 30000) {
      s += kWords[rng() % 18];
      s += ' ';
    }
    return s;
  }();
  return text;
}

const char* const kPatterns[] = {"%a%b", "%a%a%b", "%room%late%zzz%"};

const std::string& TextFor(int64_t index) { return index == 2 ? Notes() : Letters(); }

void Engine_Like(benchmark::State& state) {
  const std::string& text = TextFor(state.range(0));
  const char* pattern = kPatterns[state.range(0)];
  for (auto _ : state) {
    benchmark::DoNotOptimize(vex::MatchLikePattern(text, pattern, false, '\\', true));
  }
  state.SetLabel(pattern);
}

void Peer_Like(benchmark::State& state) {
  const std::string& text = TextFor(state.range(0));
  const char* pattern = kPatterns[state.range(0)];
  for (auto _ : state) benchmark::DoNotOptimize(sqlite3_strlike(pattern, text.c_str(), 0));
  state.SetLabel(pattern);
}

BENCHMARK(Engine_Like)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(Peer_Like)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

VALMORA_BENCH_MAIN()
