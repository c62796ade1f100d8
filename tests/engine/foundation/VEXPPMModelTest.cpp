#include "foundation/VEXPPMModel.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using vex::TVEXPPMModel;

namespace {

std::vector<uint8_t> Text(size_t size) {
  static const char* words[] = {"the ",   "guest ",  "room ",   "night ",   "rate ",
                                "hotel ", "arrival ", "of ",     "booking ", "and ",
                                "a ",     "double ", "single ", "breakfast ", "\n"};
  std::mt19937 rng(7);
  std::vector<uint8_t> out;
  while (out.size() < size) {
    const char* w = words[rng() % 15];
    out.insert(out.end(), w, w + std::char_traits<char>::length(w));
  }
  out.resize(size);
  return out;
}

}  // namespace

TEST(PpmModelScratch, RoundTrip) {
  auto input = Text(200000);
  for (int order : {2, 4, 8, 16}) {
    TVEXPPMModel enc(order, 1);
    ASSERT_TRUE(enc.Reserve());
    std::vector<uint8_t> packed(input.size() * 2 + 100);
    int64_t n = enc.Encode(input, packed);
    ASSERT_GT(n, 0);
    TVEXPPMModel dec(order, 1);
    ASSERT_TRUE(dec.Reserve());
    std::vector<uint8_t> back(input.size());
    int64_t m = dec.Decode({packed.data(), size_t(n)}, back);
    printf("order %d: %zu -> %lld, restarts %u/%u consumed %zu past %d\n", order, input.size(),
           (long long)n, enc.Restarts(), dec.Restarts(), dec.InputConsumed(), dec.ReadPastEnd());
    ASSERT_EQ(m, int64_t(input.size()));
    ASSERT_EQ(back, input);
  }
}
