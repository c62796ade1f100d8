#include "foundation/VEXCompression.h"

#include <cstdlib>

#include "foundation/VEXBZip2.h"
#include "foundation/VEXPPM.h"
#include "foundation/VEXZlib.h"

namespace vex {

namespace {

std::string& LastErrorText() {
  thread_local std::string text;
  return text;
}

// Frees what a failed call would otherwise hand back, so a false result
// always comes with nullptr and 0.
bool Fail(void*& buffer, int32_t& size) {
  std::free(buffer);
  buffer = nullptr;
  size = 0;
  return false;
}

}  // namespace

bool CompressBuffer(TVEXCompressionAlgorithm Algorithm, uint8_t Mode, const void* InBuffer,
                    int32_t InSize, void*& OutBuffer, int32_t& OutSize) {
  OutBuffer = nullptr;
  OutSize = 0;
  LastErrorText().clear();
  if (Algorithm == acaNone || InSize <= 0) return false;
  try {
    switch (Algorithm) {
      case acaZLIB:
        ZlibCompressBuffer(InBuffer, InSize, OutBuffer, OutSize, Mode);
        break;
      case acaBZIP:
        BZip2CompressBuffer(InBuffer, InSize, OutBuffer, OutSize, Mode);
        break;
      case acaPPM:
        PpmCompressBuffer(InBuffer, InSize, OutBuffer, OutSize, Mode);
        break;
      default:
        return false;
    }
  } catch (...) {
    if (Algorithm == acaZLIB) LastErrorText() = ZlibLastError();
    return Fail(OutBuffer, OutSize);
  }
  if (OutSize <= 0) return Fail(OutBuffer, OutSize);
  return true;
}

bool DecompressBuffer(TVEXCompressionAlgorithm Algorithm, const void* InBuffer, int32_t InSize,
                      void*& OutBuffer, int32_t& OutSize) {
  const int32_t expected = OutSize;
  OutBuffer = nullptr;
  OutSize = 0;
  LastErrorText().clear();
  if (Algorithm == acaNone || InSize <= 0 || expected < 0) return false;
  try {
    switch (Algorithm) {
      case acaZLIB:
        ZlibDecompressBuffer(InBuffer, InSize, expected, OutBuffer, OutSize);
        break;
      case acaBZIP:
        BZip2DecompressBuffer(InBuffer, InSize, expected, OutBuffer, OutSize);
        break;
      case acaPPM:
        OutSize = expected;
        PpmDecompressBuffer(InBuffer, InSize, OutBuffer, OutSize);
        break;
      default:
        return false;
    }
  } catch (...) {
    return Fail(OutBuffer, OutSize);
  }
  if (OutSize <= 0) {
    if (Algorithm == acaZLIB) LastErrorText() = ZlibLastError();
    return Fail(OutBuffer, OutSize);
  }
  return true;
}

TVEXCompressionAlgorithm CompressionAlgorithmFromName(std::string_view Name) {
  for (size_t i = 0; i < CompressionAlgorithmNames.size(); ++i) {
    std::string_view candidate = CompressionAlgorithmNames[i];
    if (candidate.size() != Name.size()) continue;
    bool equal = true;
    for (size_t k = 0; k < Name.size() && equal; ++k) {
      char c = Name[k];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      equal = c == candidate[k];
    }
    if (equal) return static_cast<TVEXCompressionAlgorithm>(i);
  }
  return acaNone;
}

std::string GetLastCompressionError() { return LastErrorText(); }

}  // namespace vex
