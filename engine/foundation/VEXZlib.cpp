#include "foundation/VEXZlib.h"

#include <zlib.h>

#include <cstdlib>
#include <limits>
#include <memory>

#include "foundation/VEXGuards.h"

namespace vex {

namespace {

constexpr int64_t kMaxBuffer = std::numeric_limits<int32_t>::max();
// deflate gets this much more room each time it runs out.
constexpr int64_t kDeflateGrowth = 256;

std::string& LastErrorText() {
  thread_local std::string text;
  return text;
}

int64_t RoundUp(int64_t value, int64_t unit) { return (value + unit - 1) / unit * unit; }

voidpf ZAlloc(voidpf, uInt items, uInt size) { return std::calloc(items, size); }
void ZFree(voidpf, voidpf address) { std::free(address); }

z_stream NewZStream(const void* in, int32_t inBytes) {
  z_stream s{};
  s.zalloc = ZAlloc;
  s.zfree = ZFree;
  s.opaque = nullptr;
  s.next_in = static_cast<Bytef*>(const_cast<void*>(in));
  s.avail_in = static_cast<uInt>(inBytes);
  return s;
}

// Ends a started zlib stream on every way out unless it was ended already.
class StreamEnd {
 public:
  StreamEnd(z_stream& s, int (*end)(z_streamp)) : FStream(s), FEnd(end) {}
  ~StreamEnd() {
    if (FEnd != nullptr) FEnd(&FStream);
  }
  StreamEnd(const StreamEnd&) = delete;
  StreamEnd& operator=(const StreamEnd&) = delete;
  int Release() {
    auto end = FEnd;
    FEnd = nullptr;
    return end(&FStream);
  }

 private:
  z_stream& FStream;
  int (*FEnd)(z_streamp);
};

[[noreturn]] void RaiseCompression(int code) {
  throw ECompressionError("error " + std::to_string(code));
}

// Resizes a heap buffer, keeping it when the resize fails.
bool Resize(TVEXMallocPtr<uint8_t>& buffer, int64_t size) {
  void* resized = std::realloc(buffer.get(), static_cast<size_t>(size));
  if (resized == nullptr) return false;
  (void)buffer.release();
  buffer.reset(static_cast<uint8_t*>(resized));
  return true;
}

}  // namespace

std::string ZlibLastError() { return LastErrorText(); }

void ZlibCompressBuffer(const void* InBuf, int32_t InBytes, void*& OutBuf, int32_t& OutBytes,
                        int32_t Level) {
  OutBuf = nullptr;
  OutBytes = 0;
  LastErrorText().clear();
  if (InBytes < 0) RaiseCompression(Z_STREAM_ERROR);
  int64_t size = RoundUp(int64_t(InBytes) + InBytes / 10 + 12, 256);
  if (size > kMaxBuffer) RaiseCompression(Z_MEM_ERROR);
  TVEXMallocPtr<uint8_t> out(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size), 1)));
  if (!out) RaiseCompression(Z_MEM_ERROR);

  z_stream s = NewZStream(InBuf, InBytes);
  int rc = deflateInit_(&s, Level, ZLIB_VERSION, static_cast<int>(sizeof(z_stream)));
  if (rc < 0) RaiseCompression(rc);
  StreamEnd end(s, deflateEnd);
  s.next_out = out.get();
  s.avail_out = static_cast<uInt>(size);
  for (;;) {
    rc = deflate(&s, Z_FINISH);
    if (rc == Z_STREAM_END) break;
    if (rc < 0) RaiseCompression(rc);
    size += kDeflateGrowth;
    if (size > kMaxBuffer || !Resize(out, size)) RaiseCompression(Z_MEM_ERROR);
    s.next_out = out.get() + s.total_out;
    s.avail_out = static_cast<uInt>(size - int64_t(s.total_out));
  }
  const int64_t produced = int64_t(s.total_out);
  rc = end.Release();
  if (rc < 0) RaiseCompression(rc);
  // A failed shrink leaves the larger block, which serves as well.
  if (produced > 0) (void)Resize(out, produced);
  OutBuf = out.release();
  OutBytes = static_cast<int32_t>(produced);
}

void ZlibDecompressBuffer(const void* InBuf, int32_t InBytes, int32_t OutEstimate, void*& OutBuf,
                          int32_t& OutBytes) {
  OutBuf = nullptr;
  OutBytes = 0;
  LastErrorText().clear();
  if (InBytes <= 0 || OutEstimate < 0) return;
  const int64_t step = RoundUp(InBytes, 256);
  const bool bounded = OutEstimate > 0;
  int64_t size = bounded ? OutEstimate : step;
  TVEXMallocPtr<uint8_t> out(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size))));
  if (!out) return;

  z_stream s = NewZStream(InBuf, InBytes);
  int rc = inflateInit_(&s, ZLIB_VERSION, static_cast<int>(sizeof(z_stream)));
  if (rc < 0) {
    LastErrorText() = "InflateInit_ error: " + std::to_string(rc);
    return;
  }
  StreamEnd end(s, inflateEnd);
  for (;;) {
    s.next_out = out.get() + s.total_out;
    s.avail_out = static_cast<uInt>(size - int64_t(s.total_out));
    rc = inflate(&s, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) break;
    // A stream that asks for a preset dictionary cannot be decoded here, and
    // would ask again on every call.
    if (rc != Z_OK) return;
    // Room left means the input ran out before the stream's end.
    if (s.avail_out != 0) return;
    // Full output before the end: more than the known size is an error, not
    // a reason to grow.
    if (bounded) return;
    size += step;
    if (size > kMaxBuffer || !Resize(out, size)) return;
  }
  const int64_t produced = int64_t(s.total_out);
  if (end.Release() < 0 || produced == 0) return;
  (void)Resize(out, produced);
  OutBuf = out.release();
  OutBytes = static_cast<int32_t>(produced);
}

}  // namespace vex
