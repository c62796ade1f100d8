// Shared by the definition and collection tests: building expected stream
// bytes, streams over given bytes, and the native code of a failed call.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/foundation/VEXStreamFakes.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXStream.h"
#include "support/NativeError.h"

namespace vex::testing {

// Little-endian stream bytes, item by item.
struct Bytes {
  std::string s;
  Bytes& u8(uint8_t v) {
    s.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& i32(int32_t v) {
    for (int i = 0; i < 4; ++i) u8(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Bytes& i64(int64_t v) {
    for (int i = 0; i < 8; ++i) u8(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    return *this;
  }
  Bytes& raw(std::string_view t) {
    s += t;
    return *this;
  }
  // A definition's header: name length, name, object id.
  Bytes& header(std::string_view name, int32_t objectId) {
    return u8(static_cast<uint8_t>(name.size())).raw(name).i32(objectId);
  }
};

inline std::unique_ptr<TVEXMemoryStream> StreamOver(const std::string& bytes) {
  auto stream = std::make_unique<TVEXMemoryStream>();
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  stream->Seek(0, rtl::soFromBeginning);
  return stream;
}

template <class T>
std::string SavedBytes(const T& saved) {
  TVEXMemoryStream stream;
  saved.SaveToStream(stream);
  return ContentOf(stream);
}

using testsupport::CodeOf;

}  // namespace vex::testing
