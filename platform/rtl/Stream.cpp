#include "rtl/Stream.h"

#include <algorithm>
#include <cstring>

#include "rtl/Exception.h"

namespace rtl {

int64_t TStream::GetSize() {
  int64_t position = Seek(0, soFromCurrent);
  int64_t size = Seek(0, soFromEnd);
  Seek(position, soFromBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EInvalidOperation("Stream does not support SetSize"); }

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  constexpr int32_t kChunk = 64 * 1024;
  std::vector<uint8_t> buffer(
      static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(count, 1), kChunk)));
  int64_t left = count;
  while (left > 0) {
    auto n = static_cast<int32_t>(std::min<int64_t>(left, kChunk));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  auto size = static_cast<int64_t>(FData.size());
  if (count <= 0 || FPosition >= size) return 0;
  auto n = static_cast<int32_t>(std::min<int64_t>(count, size - FPosition));
  std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  auto end = FPosition + count;
  if (end > static_cast<int64_t>(FData.size())) FData.resize(static_cast<size_t>(end));
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soFromBeginning ? 0
                 : origin == soFromCurrent ? FPosition
                                           : static_cast<int64_t>(FData.size());
  int64_t target = base + offset;
  // A position before the start cannot be read or written; refuse it by staying put.
  if (target >= 0) FPosition = target;
  return FPosition;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EInvalidOperation("Invalid stream size");
  FData.resize(static_cast<size_t>(newSize));
  if (FPosition > newSize) FPosition = newSize;
}

void TMemoryStream::Clear() {
  FData.clear();
  FPosition = 0;
}

}  // namespace rtl
