// The engine's streams and the stream routines the whole engine shares.
//
// Every engine stream is a platform stream (rtl::TStream), so it can be handed
// to code that expects one. TVEXStream adds a copy block size, a progress event
// and whole-stream copies; the memory stream keeps its bytes in a buffer of the
// engine memory manager, the file stream works on an os::File, and the
// temporary stream starts in memory and moves itself, once, into a temporary
// file when it outgrows its limit.
//
// Bytes a stream grows by (a larger size, or a write behind a seek past the
// end) always read as zero.
//
// Streams are not synchronised: one thread uses a stream at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "os/File.h"
#include "rtl/Stream.h"

namespace vex {

class TVEXStream;

using TVEXNoCancelProgressEvent = std::function<void(TVEXStream* Sender, double PercentDone)>;

class TVEXStream : public rtl::TStream {
 public:
  TVEXStream() = default;
  TVEXStream(const TVEXStream&) = delete;
  TVEXStream& operator=(const TVEXStream&) = delete;

  int32_t BlockSize() const { return FBlockSize; }
  void SetBlockSize(int32_t Value) { FBlockSize = Value; }
  const TVEXNoCancelProgressEvent& OnProgress() const { return FOnProgress; }
  void SetOnProgress(TVEXNoCancelProgressEvent Value) { FOnProgress = std::move(Value); }
  // Set by the stream's users, never by the stream.
  bool Modified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }

  // Copies this whole stream to Stream at its current position, in BlockSize
  // chunks. Both positions are restored; progress goes from 0 to 100.
  void SaveToStream(TVEXStream& Stream);
  // Replaces this stream's content by StreamSize bytes of Stream from
  // FromPosition on. Both positions are restored.
  void LoadFromStreamWithPosition(TVEXStream& Stream, int64_t FromPosition, int64_t StreamSize);
  void LoadFromStream(TVEXStream& Stream);
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);

  // A per-stream lock for users that share one stream between threads.
  virtual void Lock() { FCSect.lock(); }
  virtual void Unlock() { FCSect.unlock(); }

 protected:
  void DoProgress(double PercentDone);

 private:
  std::recursive_mutex FCSect;
  int32_t FBlockSize = 102400;
  TVEXNoCancelProgressEvent FOnProgress;
  bool FModified = false;
};

// A stream over one buffer of the engine memory manager. Content, reservation
// and position are 32-bit: the stream never holds more than 2^31 - 1 bytes (a
// larger size raises 30004, a write that would pass it transfers nothing), and
// a seek before the start is refused (the position stays).
class TVEXMemoryStream : public TVEXStream {
 public:
  // Adopts Buffer (a memory-manager block, its whole size as content), else
  // reserves DefaultAllocatedSize bytes with no content, else holds nothing.
  explicit TVEXMemoryStream(void* Buffer = nullptr, int32_t DefaultAllocatedSize = 0);
  ~TVEXMemoryStream() override;

  void* Buffer() const { return FBuffer; }
  int32_t AllocatedBufferSize() const { return FAllocatedBufferSize; }

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, rtl::TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override { return FBufferSize; }

 private:
  uint8_t* FBuffer = nullptr;
  int32_t FBufferSize = 0;
  int32_t FAllocatedBufferSize = 0;
  int32_t FPosition = 0;
};

// Mode values of TVEXFileStream: fmCreate makes a new empty file, read/write,
// unshared; any other mode opens an existing file with the access in its two
// lowest bits (0 read, 1 write, 2 read/write) and the sharing in bits 4-6
// (0x10 exclusive, 0x20 deny write, 0x30 deny read, 0x40 deny none).
inline constexpr uint16_t fmCreate = 0xFF00;

class TVEXFileStream : public TVEXStream {
 public:
  // Raises 10104 when the file cannot be created, 10105 when it cannot be
  // opened (also for a mode outside the values above). A temporary file is
  // deleted when the stream closes it.
  TVEXFileStream(const std::string& FileName, uint16_t Mode, bool IsTemporary = false);
  ~TVEXFileStream() override;

  // A new file in the temporary folder whose name begins "VEX" and is already
  // gone from the folder: nothing of it is left when the stream is freed or the
  // process ends, however it ends. FileName is the name it had.
  static std::unique_ptr<TVEXFileStream> CreateTemporary();

  const std::string& FileName() const { return FFileName; }
  uint16_t Mode() const { return FMode; }
  bool IsTemporary() const { return FIsTemporary; }

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  // A target before the start is refused: the position stays.
  int64_t Seek(int64_t Offset, rtl::TSeekOrigin Origin) override;
  // A failure to set the end of file raises os::OsError.
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override;

 private:
  TVEXFileStream(os::File File, std::string FileName);

  os::File FHandle;
  std::string FFileName;
  uint16_t FMode = fmCreate;
  bool FIsTemporary = false;
  bool FDeleteOnClose = false;
  int64_t FPosition = 0;
};

// Lives in memory until a write would take it past MemoryLimit bytes, then
// moves its content, keeping its position, into a temporary file that
// disappears with the stream (or the process). It never moves back.
class TVEXTemporaryStream : public TVEXStream {
 public:
  explicit TVEXTemporaryStream(bool DisableTempFiles = false);
  ~TVEXTemporaryStream() override;

  int32_t MemoryLimit() const { return FMemoryLimit; }
  void SetMemoryLimit(int32_t Value) { FMemoryLimit = Value; }
  bool InMemory() const { return FInMemory; }
  const std::string& FileName() const { return FFileName; }
  TVEXMemoryStream* MemoryStream() const { return FMemoryStream.get(); }
  TVEXFileStream* FileStream() const { return FFileStream.get(); }

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, rtl::TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override;

 private:
  TVEXStream& Current() const;
  void MoveToFile();

  int32_t FMemoryLimit = 1048576;
  std::unique_ptr<TVEXMemoryStream> FMemoryStream;
  std::unique_ptr<TVEXFileStream> FFileStream;
  std::string FFileName;
  bool FInMemory = true;
  bool FDisableTempFiles;
};

// Read, write or position a stream and raise EVEXException with the caller's
// code when the stream falls short, naming position, size and byte counts.
void ReadStreamChecked(void* Buffer, int32_t Count, rtl::TStream& Stream, int32_t NativeErrorCode);
// Raises what ReadStreamChecked would raise for a read of Count bytes that the
// stream cannot satisfy from where it stands (also for a negative Count). Lets a
// reader refuse a size taken from a damaged file before allocating for it.
void CheckStreamHolds(rtl::TStream& Stream, int64_t Count, int32_t NativeErrorCode);
void WriteStreamChecked(const void* Buffer, int32_t Count, rtl::TStream& Stream,
                        int32_t NativeErrorCode);
void SeekStreamChecked(rtl::TStream& Stream, int32_t NativeErrorCode, int64_t Position);

// The engine's CRC-32 (reflected, polynomial 0xEDB88320) of Length bytes,
// continued from Crc. No inversion at either end: stored checksums start from
// 0 and keep the value as it comes out.
uint32_t UpdateCrc32(uint32_t Crc, const void* Buffer, int32_t Length);

// The name of a new, unique, empty file in the temporary folder, prefix "VEX".
// The file stays until someone deletes it; for scratch data that must not
// outlive the process use TVEXFileStream::CreateTemporary instead.
std::string MakeTempFileName();

// Prefix followed by a new GUID in braces with upper-case hexadecimal digits.
std::string MakeUniqueName(const std::string& Prefix);

}  // namespace vex
