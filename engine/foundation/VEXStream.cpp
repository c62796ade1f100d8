#include "foundation/VEXStream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include <zlib.h>

#include "foundation/VEXConst.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXMemory.h"
#include "os/OsError.h"
#include "os/TempFile.h"
#include "rtl/Guid.h"

namespace vex {

namespace {

constexpr const char* kReadMessage =
    "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";
constexpr const char* kWriteMessage =
    "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d";
constexpr const char* kSeekMessage = "Cannot set stream position to %d. Position = %d, Size = %d";
constexpr const char* kZeroBlockSize = "Stream block size = 0 is not allowed";

constexpr int64_t kMaxMemoryStreamSize = std::numeric_limits<int32_t>::max();

// The buffer of a copy; an empty copy needs none.
TVEXMemBlock ChunkBuffer(int64_t size) {
  return size > 0 ? TVEXMemBlock::GetMem(size) : TVEXMemBlock();
}

// Reads Count bytes and raises Code with the read message when fewer come.
void ReadOrRaise(void* buffer, int32_t count, rtl::TStream& stream, int32_t code) {
  int64_t position = stream.Position();
  int32_t done = stream.Read(buffer, count);
  if (done != count)
    throw EVEXException(code, kReadMessage, position, stream.GetSize(), count, done);
}

void WriteOrRaise(const void* buffer, int32_t count, rtl::TStream& stream, int32_t code) {
  int64_t position = stream.Position();
  int32_t done = stream.Write(buffer, count);
  if (done != count)
    throw EVEXException(code, kWriteMessage, position, stream.GetSize(), count, done);
}


}  // namespace

// ---------------------------------------------------------------------------
// TVEXStream

void TVEXStream::DoProgress(double PercentDone) {
  if (FOnProgress) FOnProgress(this, PercentDone);
}

void TVEXStream::SaveToStream(TVEXStream& Stream) {
  if (FBlockSize <= 0) throw EVEXException(10418, kZeroBlockSize);
  int64_t ownPosition = Position();
  int64_t targetPosition = Stream.Position();
  Seek(0, rtl::soFromBeginning);
  DoProgress(0);
  int64_t size = GetSize();
  TVEXMemBlock chunk = ChunkBuffer(std::min<int64_t>(FBlockSize, size));
  int64_t copied = 0;
  while (copied < size) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(FBlockSize, size - copied));
    ReadOrRaise(chunk.Get(), n, *this, 10146);
    WriteOrRaise(chunk.Get(), n, Stream, 10147);
    copied += n;
    DoProgress(static_cast<double>(copied) / static_cast<double>(size) * 100.0);
  }
  Seek(ownPosition, rtl::soFromBeginning);
  Stream.Seek(targetPosition, rtl::soFromBeginning);
  DoProgress(100);
}

void TVEXStream::LoadFromStreamWithPosition(TVEXStream& Stream, int64_t FromPosition,
                                            int64_t StreamSize) {
  if (FBlockSize <= 0) throw EVEXException(10419, kZeroBlockSize);
  int64_t ownPosition = Position();
  int64_t sourcePosition = Stream.Position();
  Stream.Seek(FromPosition, rtl::soFromBeginning);
  SetSize(0);
  Seek(0, rtl::soFromBeginning);
  DoProgress(0);
  int64_t end = FromPosition + StreamSize;
  // Sized from where the source really stands: a seek it refused leaves it
  // before FromPosition, with more than StreamSize bytes to go.
  const int64_t chunkSize = std::min<int64_t>(FBlockSize, end - Stream.Position());
  TVEXMemBlock chunk = ChunkBuffer(chunkSize);
  for (int64_t at = Stream.Position(); at < end; at = Stream.Position()) {
    int32_t n = static_cast<int32_t>(std::min(chunkSize, end - at));
    ReadOrRaise(chunk.Get(), n, Stream, 10148);
    WriteOrRaise(chunk.Get(), n, *this, 10149);
    DoProgress(static_cast<double>(Stream.Position()) / static_cast<double>(Stream.GetSize()) *
               100.0);
  }
  Seek(ownPosition, rtl::soFromBeginning);
  Stream.Seek(sourcePosition, rtl::soFromBeginning);
  DoProgress(100);
}

void TVEXStream::LoadFromStream(TVEXStream& Stream) {
  LoadFromStreamWithPosition(Stream, 0, Stream.GetSize());
}

void TVEXStream::LoadFromFile(const std::string& FileName) {
  TVEXFileStream file(FileName, 0x20);
  LoadFromStream(file);
}

void TVEXStream::SaveToFile(const std::string& FileName) {
  TVEXFileStream file(FileName, fmCreate);
  SaveToStream(file);
}

// ---------------------------------------------------------------------------
// TVEXMemoryStream

TVEXMemoryStream::TVEXMemoryStream(void* Buffer, int32_t DefaultAllocatedSize) {
  if (Buffer != nullptr) {
    FBuffer = static_cast<uint8_t*>(Buffer);
    FBufferSize = static_cast<int32_t>(MemoryManager->GetMemoryBufferSize(Buffer));
    FAllocatedBufferSize = FBufferSize;
  } else if (DefaultAllocatedSize > 0) {
    FBuffer = static_cast<uint8_t*>(MemoryManager->GetMem(DefaultAllocatedSize));
    FAllocatedBufferSize = DefaultAllocatedSize;
  }
}

TVEXMemoryStream::~TVEXMemoryStream() {
  if (FBuffer != nullptr) {
    void* p = FBuffer;
    FBuffer = nullptr;
    MemoryManager->FreeAndNillMem(p);
  }
}

void TVEXMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize <= 0) {
    if (FBuffer != nullptr) {
      void* p = FBuffer;
      FBuffer = nullptr;
      MemoryManager->FreeAndNillMem(p);
    }
    FBufferSize = 0;
    FAllocatedBufferSize = 0;
    FPosition = 0;
    return;
  }
  if (NewSize > kMaxMemoryStreamSize)
    throw EVEXException(30004, sMemoryLimitExceeded, kMaxMemoryStreamSize);
  int32_t n = static_cast<int32_t>(NewSize);
  if (FBuffer == nullptr) {
    FBuffer = static_cast<uint8_t*>(MemoryManager->AllocMem(n));
    FAllocatedBufferSize = n;
  } else if (n > FAllocatedBufferSize) {
    // Twice the need, so that a run of appends reallocates rarely.
    int64_t reserve = std::min<int64_t>(int64_t{n} * 2, kMaxMemoryStreamSize);
    void* p = FBuffer;
    MemoryManager->ReallocMem(p, reserve, false);
    FBuffer = static_cast<uint8_t*>(p);
    FAllocatedBufferSize = static_cast<int32_t>(reserve);
  }
  // The reservation may hold old bytes (from before a shrink, or never
  // written): what the content grows by must read as zero.
  if (n > FBufferSize) std::memset(FBuffer + FBufferSize, 0, static_cast<size_t>(n - FBufferSize));
  FBufferSize = n;
  if (FPosition > FBufferSize) FPosition = FBufferSize;
}

int32_t TVEXMemoryStream::Read(void* Buffer, int32_t Count) {
  if (FPosition >= FBufferSize || Count < 1) return 0;
  int32_t n = std::min(Count, FBufferSize - FPosition);
  std::memcpy(Buffer, FBuffer + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int32_t TVEXMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count < 1) return 0;
  int64_t end = int64_t{FPosition} + Count;
  if (end > kMaxMemoryStreamSize) return 0;
  if (end > FBufferSize) SetSize(end);
  std::memcpy(FBuffer + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = static_cast<int32_t>(end);
  return Count;
}

int64_t TVEXMemoryStream::Seek(int64_t Offset, rtl::TSeekOrigin Origin) {
  int64_t base = Origin == rtl::soFromBeginning ? 0
                 : Origin == rtl::soFromCurrent ? FPosition
                                                : FBufferSize;
  int64_t target = base + Offset;
  // Never before the buffer, never past what the 32-bit position can hold.
  if (target >= 0 && target <= kMaxMemoryStreamSize) FPosition = static_cast<int32_t>(target);
  return FPosition;
}

// ---------------------------------------------------------------------------
// TVEXFileStream

namespace {

bool AccessOfMode(uint16_t mode, os::Access& access) {
  switch (mode & 0x03) {
    case 0:
      access = os::Access::Read;
      return true;
    case 1:
      access = os::Access::Write;
      return true;
    case 2:
      access = os::Access::ReadWrite;
      return true;
    default:
      return false;
  }
}

bool ShareOfMode(uint16_t mode, os::Share& share) {
  switch (mode & 0xF0) {
    case 0x00:
    case 0x10:
      share = os::Share::Exclusive;
      return true;
    case 0x20:
      share = os::Share::DenyWrite;
      return true;
    case 0x30:
      share = os::Share::DenyRead;
      return true;
    case 0x40:
      share = os::Share::DenyNone;
      return true;
    default:
      return false;
  }
}

}  // namespace

TVEXFileStream::TVEXFileStream(const std::string& FileName, uint16_t Mode, bool IsTemporary)
    : FFileName(FileName), FMode(Mode), FIsTemporary(IsTemporary) {
  if (Mode == fmCreate) {
    if (!FHandle.Open(FileName, os::Access::ReadWrite, os::Share::Exclusive,
                      os::Disposition::CreateAlways))
      throw EVEXException(10104, "Cannot create file. FileName = %s", FileName);
    FDeleteOnClose = IsTemporary;
    return;
  }
  os::Access access;
  os::Share share;
  if (!AccessOfMode(Mode, access) || !ShareOfMode(Mode, share) ||
      !FHandle.Open(FileName, access, share, os::Disposition::OpenExisting))
    throw EVEXException(10105, "Cannot open file. FileName = %s, Mode = %d", FileName,
                        int32_t{Mode});
}

TVEXFileStream::TVEXFileStream(os::File File, std::string FileName)
    : FHandle(std::move(File)), FFileName(std::move(FileName)), FIsTemporary(true) {}

std::unique_ptr<TVEXFileStream> TVEXFileStream::CreateTemporary() {
  std::string name;
  os::File file = os::CreateTempFile(&name);
  return std::unique_ptr<TVEXFileStream>(new TVEXFileStream(std::move(file), std::move(name)));
}

TVEXFileStream::~TVEXFileStream() {
  FHandle.Close();
  if (FDeleteOnClose) os::File::Delete(FFileName);
}

int32_t TVEXFileStream::Read(void* Buffer, int32_t Count) {
  if (Count < 1) return 0;
  size_t done = 0;
  if (!FHandle.Read(Buffer, static_cast<size_t>(Count), FPosition, &done)) return 0;
  FPosition += static_cast<int64_t>(done);
  return static_cast<int32_t>(done);
}

int32_t TVEXFileStream::Write(const void* Buffer, int32_t Count) {
  if (Count < 1) return 0;
  if (!FHandle.Write(Buffer, static_cast<size_t>(Count), FPosition)) return 0;
  FPosition += Count;
  return Count;
}

int64_t TVEXFileStream::Seek(int64_t Offset, rtl::TSeekOrigin Origin) {
  int64_t base = Origin == rtl::soFromBeginning ? 0
                 : Origin == rtl::soFromCurrent ? FPosition
                                                : GetSize();
  int64_t target = base + Offset;
  if (target >= 0) FPosition = target;
  return FPosition;
}

void TVEXFileStream::SetSize(int64_t NewSize) {
  if (!FHandle.SetSize(NewSize)) {
    int error = os::LastError();
    throw os::OsError("Cannot set the size of file '" + FFileName + "': " + os::ErrorText(error),
                      error);
  }
  if (FPosition > NewSize) FPosition = NewSize;
}

int64_t TVEXFileStream::GetSize() {
  int64_t size = 0;
  if (!FHandle.GetSize(size)) {
    int error = os::LastError();
    throw os::OsError("Cannot get the size of file '" + FFileName + "': " + os::ErrorText(error),
                      error);
  }
  return size;
}

// ---------------------------------------------------------------------------
// TVEXTemporaryStream

TVEXTemporaryStream::TVEXTemporaryStream(bool DisableTempFiles)
    : FMemoryStream(std::make_unique<TVEXMemoryStream>()), FDisableTempFiles(DisableTempFiles) {}

TVEXTemporaryStream::~TVEXTemporaryStream() = default;

TVEXStream& TVEXTemporaryStream::Current() const {
  if (FInMemory) return *FMemoryStream;
  return *FFileStream;
}

int32_t TVEXTemporaryStream::Read(void* Buffer, int32_t Count) {
  return Current().Read(Buffer, Count);
}

int64_t TVEXTemporaryStream::Seek(int64_t Offset, rtl::TSeekOrigin Origin) {
  return Current().Seek(Offset, Origin);
}

void TVEXTemporaryStream::SetSize(int64_t NewSize) { Current().SetSize(NewSize); }

int64_t TVEXTemporaryStream::GetSize() { return Current().GetSize(); }

int32_t TVEXTemporaryStream::Write(const void* Buffer, int32_t Count) {
  if (FInMemory && !FDisableTempFiles && Count > 0) {
    // The end the write reaches counts too, so a seek far past the end cannot
    // grow the memory stream beyond the limit.
    int64_t reach = std::max(FMemoryStream->GetSize(), FMemoryStream->Position()) + Count;
    if (reach > FMemoryLimit) MoveToFile();
  }
  return Current().Write(Buffer, Count);
}

void TVEXTemporaryStream::MoveToFile() {
  std::unique_ptr<TVEXFileStream> file = TVEXFileStream::CreateTemporary();
  file->LoadFromStream(*FMemoryStream);
  file->Seek(FMemoryStream->Position(), rtl::soFromBeginning);
  FFileName = file->FileName();
  FFileStream = std::move(file);
  FMemoryStream.reset();
  FInMemory = false;
}

// ---------------------------------------------------------------------------
// Stream routines

void ReadStreamChecked(void* Buffer, int32_t Count, rtl::TStream& Stream, int32_t NativeErrorCode) {
  ReadOrRaise(Buffer, Count, Stream, NativeErrorCode);
}

void CheckStreamHolds(rtl::TStream& Stream, int64_t Count, int32_t NativeErrorCode) {
  const int64_t position = Stream.Position();
  const int64_t size = Stream.GetSize();
  if (Count < 0 || Count > size - position) {
    // The checked read would have transferred what lies between the position
    // and the end (nothing for a negative count), and says so.
    const int64_t there = Count < 0 ? 0 : std::clamp<int64_t>(size - position, 0, Count);
    throw EVEXException(NativeErrorCode, kReadMessage, position, size, Count, there);
  }
}

void WriteStreamChecked(const void* Buffer, int32_t Count, rtl::TStream& Stream,
                        int32_t NativeErrorCode) {
  WriteOrRaise(Buffer, Count, Stream, NativeErrorCode);
}

void SeekStreamChecked(rtl::TStream& Stream, int32_t NativeErrorCode, int64_t Position) {
  // The message names where the stream stood before the attempt: a stream that
  // moves somewhere else instead of refusing must not hide where it was.
  int64_t before = Stream.Position();
  if (Stream.Seek(Position, rtl::soFromBeginning) != Position)
    throw EVEXException(NativeErrorCode, kSeekMessage, Position, before, Stream.GetSize());
}

uint32_t UpdateCrc32(uint32_t Crc, const void* Buffer, int32_t Length) {
  // zlib's crc32 is the same reflected CRC with the value inverted on the way
  // in and out; inverting around it leaves the plain update, computed by its
  // word-wide and vector code.
  if (Length <= 0) return Crc;
  return ~static_cast<uint32_t>(
      crc32_z(~Crc & 0xFFFFFFFFu, static_cast<const Bytef*>(Buffer), static_cast<z_size_t>(Length)));
}

std::string MakeTempFileName() {
  // The platform hands out temporary files already unlinked; reserve the
  // unique name it chose and put an empty file back under it.
  std::string name;
  os::CreateTempFile(&name).Close();
  os::File file;
  if (!file.Open(name, os::Access::ReadWrite, os::Share::Exclusive,
                 os::Disposition::CreateAlways)) {
    int error = os::LastError();
    throw os::OsError("Cannot create the temporary file '" + name + "': " + os::ErrorText(error),
                      error);
  }
  file.Close();
  return name;
}

std::string MakeUniqueName(const std::string& Prefix) {
  return Prefix + rtl::GUIDToString(rtl::CreateGUID());
}

}  // namespace vex
