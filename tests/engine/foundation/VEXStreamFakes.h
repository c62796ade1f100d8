// A stream that runs out: it accepts at most WriteCapacity more bytes and
// hands out at most ReadCapacity more bytes, over a real memory stream, so
// tests can make every checked transfer fall short at a chosen byte.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "foundation/VEXExcept.h"
#include "foundation/VEXStream.h"
#include "support/NativeError.h"

namespace vex::testing {

class ShortStream : public TVEXStream {
 public:
  explicit ShortStream(const std::string& content = {},
                       int64_t writeCapacity = std::numeric_limits<int64_t>::max(),
                       int64_t readCapacity = std::numeric_limits<int64_t>::max())
      : WriteCapacity(writeCapacity), ReadCapacity(readCapacity) {
    if (!content.empty()) FInner.Write(content.data(), static_cast<int32_t>(content.size()));
    FInner.Seek(0, rtl::soFromBeginning);
  }

  int32_t Read(void* buffer, int32_t count) override {
    auto n = static_cast<int32_t>(std::min<int64_t>(count, ReadCapacity));
    n = FInner.Read(buffer, n);
    ReadCapacity -= n;
    return n;
  }
  int32_t Write(const void* buffer, int32_t count) override {
    auto n = static_cast<int32_t>(std::min<int64_t>(count, WriteCapacity));
    n = FInner.Write(buffer, n);
    WriteCapacity -= n;
    return n;
  }
  int64_t Seek(int64_t offset, rtl::TSeekOrigin origin) override {
    return FInner.Seek(offset, origin);
  }
  int64_t GetSize() override { return FInner.GetSize(); }
  void SetSize(int64_t newSize) override { FInner.SetSize(newSize); }

  int64_t WriteCapacity;
  int64_t ReadCapacity;

 private:
  TVEXMemoryStream FInner;
};

// The whole content of a stream, read from its start; its position is kept.
inline std::string ContentOf(rtl::TStream& stream) {
  int64_t position = stream.Position();
  std::string bytes(static_cast<size_t>(stream.GetSize()), '\0');
  stream.Seek(0, rtl::soFromBeginning);
  if (!bytes.empty()) stream.Read(bytes.data(), static_cast<int32_t>(bytes.size()));
  stream.Seek(position, rtl::soFromBeginning);
  return bytes;
}

using testsupport::MessageOf;

}  // namespace vex::testing
