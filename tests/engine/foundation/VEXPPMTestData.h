// Inputs for the PPM tests: deterministic, generated rather than checked in.
#pragma once

#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

namespace ppmtest {

// Word salad with lines and numbers: compressible text with a vocabulary.
inline std::vector<uint8_t> Text(size_t size, uint32_t seed = 7) {
  static constexpr std::string_view kWords[] = {
      "the ",       "guest ",   "room ", "night ", "rate ",      "hotel ",  "arrival ",
      "of ",        "booking ", "and ",  "a ",     "double ",    "single ", "breakfast ",
      "cancelled ", "to ",      "for ",  "with ",  "departure ", "is ",     "Reservation "};
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size + 16);
  while (out.size() < size) {
    const uint32_t pick = rng() % 24;
    if (pick < 21) {
      out.insert(out.end(), kWords[pick].begin(), kWords[pick].end());
    } else if (pick == 21) {
      for (uint32_t n = 1 + rng() % 5; n > 0; --n) out.push_back(uint8_t('0' + rng() % 10));
      out.push_back(' ');
    } else {
      out.push_back(pick == 22 ? '\n' : '.');
    }
  }
  out.resize(size);
  return out;
}

inline std::vector<uint8_t> Random(size_t size, uint32_t seed = 11) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(size);
  for (auto& b : out) b = uint8_t(rng());
  return out;
}

// 1.5 MiB of text and random stretches in turn: more contexts than the small
// levels' memory holds, so their models restart.
inline std::vector<uint8_t> LargeBlock() {
  std::vector<uint8_t> out;
  for (uint32_t part = 0; out.size() < 3 * 512 * 1024; ++part) {
    const auto piece = part % 2 == 0 ? Text(96 * 1024, part) : Random(32 * 1024, part);
    out.insert(out.end(), piece.begin(), piece.end());
  }
  out.resize(3 * 512 * 1024);
  return out;
}

}  // namespace ppmtest
