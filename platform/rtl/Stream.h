// The abstract byte stream of the platform. Engine streams (memory, file,
// temporary, compressed BLOB) derive from it, so any of them can be handed to
// code that takes a platform stream.
//
// A stream is a sequence of bytes with a current position. Read and Write move
// at most `count` bytes at the position, advance it and return how many they
// moved (fewer at the end of the stream or when the medium refuses; never an
// exception for a short transfer). ReadBuffer and WriteBuffer are the checked
// forms: anything short raises EReadError or EWriteError. Seek sets the position
// relative to the start, the current position or the end and returns the new
// position. Streams are not copyable and not thread-safe.
#pragma once

#include <cstdint>
#include <vector>

namespace rtl {

enum TSeekOrigin : uint16_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  // The default finds the size by seeking to the end and back.
  virtual int64_t GetSize();
  // Changes the length; the default refuses with EInvalidOperation (a stream
  // that can change length overrides it).
  virtual void SetSize(int64_t newSize);

  int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t position) { Seek(position, soFromBeginning); }
  int64_t Size() { return GetSize(); }

  // Raise EReadError "Stream read error" / EWriteError "Stream write error" when
  // fewer than `count` bytes move.
  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);

  // Copies `count` bytes from `source`'s position into this stream; a count of 0
  // copies the whole of `source` from its start. Returns the bytes copied; a
  // source that ends early raises EReadError.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over a growable block of memory. Reading past the end returns fewer
// bytes; writing past the end grows it; seeking beyond the end is allowed and a
// later write fills the gap with zero bytes.
class TMemoryStream : public TStream {
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t newSize) override;

  // Empties the stream and puts the position at 0.
  void Clear();
  uint8_t* Memory() { return FData.data(); }
  const uint8_t* Memory() const { return FData.data(); }

 private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

}  // namespace rtl
