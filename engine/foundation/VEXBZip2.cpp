#include "foundation/VEXBZip2.h"

#include <bzlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include "foundation/VEXGuards.h"

namespace vex {

namespace {

constexpr int64_t kMaxBuffer = std::numeric_limits<int32_t>::max();

int64_t RoundUp(int64_t value, int64_t unit) { return (value + unit - 1) / unit * unit; }

template <class E>
[[noreturn]] void Raise(int code) {
  throw E("error " + std::to_string(code));
}

bool Resize(TVEXMallocPtr<char>& buffer, int64_t size) {
  void* resized = std::realloc(buffer.get(), static_cast<size_t>(size));
  if (resized == nullptr) return false;
  (void)buffer.release();
  buffer.reset(static_cast<char*>(resized));
  return true;
}

}  // namespace

void BZip2CompressBuffer(const void* InBuf, int32_t InBytes, void*& OutBuf, int32_t& OutBytes,
                         int32_t BlockSize100k) {
  OutBuf = nullptr;
  OutBytes = 0;
  if (InBytes < 0) Raise<EBZCompressionError>(BZ_PARAM_ERROR);
  // 1 % more than the input and 600 bytes is bzip2's own bound for its output.
  const int64_t size = static_cast<int64_t>(std::nearbyint(double(InBytes) * 1.01)) + 600;
  if (size > kMaxBuffer) Raise<EBZCompressionError>(BZ_MEM_ERROR);
  TVEXMallocPtr<char> out(static_cast<char*>(std::malloc(static_cast<size_t>(size))));
  if (!out) Raise<EBZCompressionError>(BZ_MEM_ERROR);
  unsigned int produced = static_cast<unsigned int>(size);
  int rc =
      BZ2_bzBuffToBuffCompress(out.get(), &produced, static_cast<char*>(const_cast<void*>(InBuf)),
                               static_cast<unsigned int>(InBytes), BlockSize100k, 0, 0);
  if (rc < 0) Raise<EBZCompressionError>(rc);
  OutBuf = out.release();
  OutBytes = static_cast<int32_t>(produced);
}

void BZip2DecompressBuffer(const void* InBuf, int32_t InBytes, int32_t OutEstimate, void*& OutBuf,
                           int32_t& OutBytes) {
  OutBuf = nullptr;
  OutBytes = 0;
  if (InBytes < 0 || OutEstimate < 0) Raise<EBZDecompressionError>(BZ_PARAM_ERROR);
  const int64_t step = RoundUp(std::max<int64_t>(int64_t(InBytes) * 10, 1), 65536);
  const bool bounded = OutEstimate > 0;
  int64_t size = bounded ? OutEstimate : step;
  TVEXMallocPtr<char> out(static_cast<char*>(std::malloc(static_cast<size_t>(size))));
  if (!out) Raise<EBZDecompressionError>(BZ_MEM_ERROR);
  for (;;) {
    unsigned int produced = static_cast<unsigned int>(size);
    int rc = BZ2_bzBuffToBuffDecompress(out.get(), &produced,
                                        static_cast<char*>(const_cast<void*>(InBuf)),
                                        static_cast<unsigned int>(InBytes), 0, 0);
    if (rc == BZ_OK) {
      OutBuf = out.release();
      OutBytes = static_cast<int32_t>(produced);
      return;
    }
    // Full output before the end: more than the known size is an error, not
    // a reason to grow.
    if (rc != BZ_OUTBUFF_FULL || bounded) Raise<EBZDecompressionError>(rc);
    size += step;
    if (size > kMaxBuffer || !Resize(out, size)) Raise<EBZDecompressionError>(BZ_MEM_ERROR);
  }
}

}  // namespace vex
