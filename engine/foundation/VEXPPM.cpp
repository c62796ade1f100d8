#include "foundation/VEXPPM.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "foundation/VEXConst.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXPPMModel.h"
#include "foundation/VEXStartup.h"
#include "rtl/Exception.h"

namespace vex {

namespace {

constexpr TVEXPPMLevel kLevels[9] = {{2, 2},  {3, 3},   {4, 7},    {5, 16},  {7, 22},
                                     {8, 25}, {10, 40}, {13, 100}, {16, 100}};
constexpr uint32_t kVariantMark = 6;

}  // namespace

namespace {
std::unique_ptr<TVEXLock> gPpmLock;
}  // namespace

TVEXLock& PpmLock() {
  if (!gPpmLock) RaiseEngineNotStarted("The PPM lock");
  return *gPpmLock;
}

void CreatePpmLock() { gPpmLock = std::make_unique<TVEXLock>(); }
void FreePpmLock() noexcept { gPpmLock.reset(); }

TVEXPPMLevel PpmLevel(int32_t level) {
  if (level < 1) level = 1;
  if (level > 9) level = 9;
  return kLevels[level - 1];
}

uint32_t PpmHeaderWord(int32_t maxOrder, int32_t memMB) {
  return (kVariantMark << 12) + uint32_t(memMB - 1) * 16 + uint32_t(maxOrder - 1);
}

void PpmCompressBuffer(const void* InBuf, int32_t InBytes, void*& OutBuf, int32_t& OutBytes,
                       int32_t Level) {
  OutBuf = nullptr;
  OutBytes = 0;
  const int64_t estimate = int64_t(InBytes) + InBytes / 20 + 50;
  if (InBytes < 0 || estimate > INT32_MAX) throw rtl::Exception(sPPMCompressionError);
  const TVEXPPMLevel level = PpmLevel(Level);

  TVEXLockGuard guard(PpmLock());
  TVEXMallocPtr<uint8_t> out(static_cast<uint8_t*>(std::calloc(size_t(estimate), 1)));
  if (!out) throw rtl::Exception(sPPMCompressionError);
  const uint32_t header = PpmHeaderWord(level.MaxOrder, level.MemMB);
  for (int i = 0; i < 4; ++i) out.get()[i] = static_cast<uint8_t>(header >> (8 * i));

  int64_t result = 0;
  {
    TVEXPPMModel model(level.MaxOrder, uint32_t(level.MemMB));
    if (model.Reserve()) {
      const int64_t coded = model.Encode({static_cast<const uint8_t*>(InBuf), size_t(InBytes)},
                                         {out.get() + 4, size_t(estimate) - 4});
      if (coded >= 0) result = coded + 4;
    }
  }
  if (result <= 0) throw rtl::Exception(sPPMCompressionError);

  // A failed shrink leaves the larger block, which is just as good.
  if (void* shrunk = std::realloc(out.get(), size_t(result))) {
    (void)out.release();
    out.reset(static_cast<uint8_t*>(shrunk));
  }
  OutBuf = out.release();
  OutBytes = static_cast<int32_t>(result);
}

void PpmDecompressBuffer(const void* InBuf, int32_t InBytes, void*& OutBuf, int32_t& OutBytes) {
  OutBuf = nullptr;
  if (OutBytes <= 0) {
    OutBytes = 0;
    throw rtl::Exception("PPM DecpmpressBuf: OutSize must be set");
  }
  const size_t known = size_t(OutBytes);
  OutBytes = 0;

  TVEXLockGuard guard(PpmLock());
  TVEXMallocPtr<uint8_t> out(static_cast<uint8_t*>(std::calloc(known, 1)));
  if (!out) throw rtl::Exception(sPPMDecompressionError);

  int64_t result = 0;
  const auto* in = static_cast<const uint8_t*>(InBuf);
  if (InBytes >= 4) {
    const uint32_t header =
        uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
    const int maxOrder = int(header & 15) + 1;
    const uint32_t memMB = ((header >> 4) & 0xFF) + 1;
    // Order 1 cannot be modelled: no stream of it can be trusted.
    if (header >> 12 == kVariantMark && maxOrder >= 2) {
      TVEXPPMModel model(maxOrder, memMB);
      if (model.Reserve()) {
        const int64_t decoded = model.Decode({in + 4, size_t(InBytes) - 4}, {out.get(), known});
        // A complete stream never needs a byte past its end.
        if (decoded > 0 && !model.ReadPastEnd()) result = decoded;
      }
    }
  }
  if (result <= 0) throw rtl::Exception(sPPMDecompressionError);
  OutBuf = out.release();
  OutBytes = static_cast<int32_t>(result);
}

}  // namespace vex
