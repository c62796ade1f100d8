// Database file access over os::File. See VEXDatabaseFile.h for the contract.
//
// os::File has no file pointer; the pointer of the engine's file interface is
// kept in FPosition. A "seek" is the check that a working handle exists and the
// position is not negative, so it fails exactly when a seek on a lost handle
// would, and every read and write then names FPosition explicitly.
#include "storage/disk/VEXDatabaseFile.h"

#include <cerrno>
#include <cstring>

#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXMemory.h"
#include "os/Clock.h"
#include "os/OsError.h"

namespace vex {

namespace {

constexpr char kSignature[] = "VEX0LITEDATABASE";
constexpr size_t kSignatureLength = 16;
constexpr uint16_t kDBHeaderSize = 76;
constexpr int64_t kSearchWindowSize = 10000;

constexpr int kReopenAttempts = 3;
constexpr uint32_t kReopenPauseMs = 1000;

constexpr const char* kReadMessage =
    "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
    "ErrorCode:%d. ErrorMessage: %s";
constexpr const char* kWriteMessage =
    "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
    "ErrorCode:%d. ErrorMessage: %s";
constexpr const char* kSeekMessage =
    "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d";

bool AccessModeFor(TVEXAccessMode mode, os::Access& access) {
  switch (mode) {
    case amReadOnly:
      access = os::Access::Read;
      return true;
    case amReadWrite:
      access = os::Access::ReadWrite;
      return true;
  }
  return false;
}

bool ShareModeFor(TVEXShareMode mode, os::Share& share) {
  switch (mode) {
    case smExclusive:
      share = os::Share::Exclusive;
      return true;
    case smShareDenyNone:
      share = os::Share::DenyNone;
      return true;
    case smShareDenyWrite:
      share = os::Share::DenyWrite;
      return true;
  }
  return false;
}

bool IsHeaderSize(const uint8_t* twoBytes) {
  return static_cast<uint16_t>(twoBytes[0] | (twoBytes[1] << 8)) == kDBHeaderSize;
}

}  // namespace

bool RetryCall(int32_t TryCount, int32_t DelayMS, const std::function<bool()>& Func) {
  os::Clock& clock = os::CurrentClock();
  const uint32_t delay = DelayMS > 0 ? static_cast<uint32_t>(DelayMS) : 0;
  for (int32_t attempt = 0; attempt < TryCount; ++attempt) {
    if (Func()) return true;
    clock.Sleep(delay);
  }
  return false;
}

bool IsNetworkError() {
  switch (os::LastError()) {
    case EACCES:    // access to the share revoked
    case EPERM:     // the same, as some remote file systems report it
    case EBADF:     // a handle the system no longer knows
    case EIO:       // read, write or device fault
    case ESTALE:    // the remote file is gone from under the handle
    case ENETDOWN:  // the network itself
    case ENETUNREACH:
    case ENETRESET:
    case ECONNABORTED:  // the connection to the file server
    case ECONNRESET:
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTDOWN:  // the file server
    case EHOSTUNREACH:
    case ENOLINK:
    case ECOMM:
    case EREMOTEIO:
      return true;
    default:
      return false;
  }
}

TVEXDatabaseFile::~TVEXDatabaseFile() {
  if (FHandle.IsOpen()) FHandle.Close();
}

void TVEXDatabaseFile::CheckOpened(const char* operation) const {
  if (!FIsOpened) {
    throw EVEXException(30376, "Cannot perform this operation (%s) on a closed file", operation);
  }
}

void TVEXDatabaseFile::CheckClosed(const char* operation) const {
  if (FIsOpened) {
    throw EVEXException(30377, "Cannot perform this operation (%s) on a opened file", operation);
  }
}

template <class Attempt>
bool TVEXDatabaseFile::WithReopen(Attempt attempt) {
  if (attempt()) return true;
  int error = os::LastError();
  if (ReopenDatabaseFile()) {
    if (attempt()) return true;
    error = os::LastError();
  }
  os::SetLastError(error);
  return false;
}

void TVEXDatabaseFile::CreateAndOpenFile(const std::string& FileName) {
  CheckClosed("CreateFile");
  if (FileName.empty()) throw EVEXException(30374, "Cannot create file with blank FileName");
  // Unlinking needs no write permission on the file itself, so a read-only file
  // goes too. A file that cannot go (another handle has it open) makes the
  // create below fail, which is the error worth reporting.
  os::File::Delete(FileName);
  FFileName = FileName;
  FAccessMode = amReadWrite;
  FShareMode = smExclusive;
  if (!FHandle.Open(FileName, os::Access::ReadWrite, os::Share::Exclusive,
                    os::Disposition::CreateAlways)) {
    const int error = os::LastError();
    throw EVEXException(30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                        FileName, error, os::ErrorText(error));
  }
  FIsOpened = true;
  FPosition = 0;
  FHeldLocks.clear();
}

void TVEXDatabaseFile::OpenFile(const std::string& FileName, TVEXAccessMode AccessMode,
                                TVEXShareMode ShareMode) {
  CheckClosed("OpenFile");
  FFileName = FileName;
  FAccessMode = AccessMode;
  FShareMode = ShareMode;
  os::Access access;
  os::Share share;
  if (!AccessModeFor(AccessMode, access)) {
    throw EVEXException(30366, "Unknown Access mode: '%d'", static_cast<int>(AccessMode));
  }
  if (!ShareModeFor(ShareMode, share)) {
    throw EVEXException(30367, "Unknown Share mode: '%d'", static_cast<int>(ShareMode));
  }
  if (!FHandle.Open(FileName, access, share, os::Disposition::OpenExisting)) {
    const int error = os::LastError();
    throw EVEXException(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s", FileName,
                        error, os::ErrorText(error));
  }
  FIsOpened = true;
  FPosition = 0;
  FHeldLocks.clear();
}

void TVEXDatabaseFile::CloseFile() {
  CheckOpened("CloseFile");
  const bool closed = FHandle.Close();
  const int error = os::LastError();
  FIsOpened = false;
  FHeldLocks.clear();
  if (!closed) {
    throw EVEXException(30365, "Cannot close file:'%s' Error code: %d. ErrorMessage: %s", FFileName,
                        error, os::ErrorText(error));
  }
}

void TVEXDatabaseFile::DeleteFile(const std::string& /*FileName*/) {
  CheckClosed("DeleteFile");
  if (!os::File::Delete(FFileName)) {
    const int error = os::LastError();
    throw EVEXException(30362, "Cannot delete file: '%s' Error code: %d. ErrorMessage: %s",
                        FFileName, error, os::ErrorText(error));
  }
}

void TVEXDatabaseFile::RenameFile(const std::string& OldFileName, const std::string& NewFileName) {
  if (!os::File::Rename(OldFileName, NewFileName)) {
    const int error = os::LastError();
    throw EVEXException(30378, "Cannot rename file '%s' to '%s' ErrorCode:%d. ErrorMessage: %s",
                        OldFileName, NewFileName, error, os::ErrorText(error));
  }
}

// ---- the system calls, one attempt each ----

bool TVEXDatabaseFile::SysSeek(int64_t position) {
  if (!FHandle.IsOpen()) {
    os::SetLastError(EBADF);
    return false;
  }
  if (position < 0) {
    os::SetLastError(EINVAL);
    return false;
  }
  FPosition = position;
  return true;
}

bool TVEXDatabaseFile::SysRead(void* buffer, int64_t count, int64_t position, size_t& transferred) {
  transferred = 0;
  if (!SysSeek(position)) return false;
  if (count < 0) {
    os::SetLastError(EINVAL);
    return false;
  }
  const bool ok = FHandle.Read(buffer, static_cast<size_t>(count), FPosition, &transferred);
  FPosition += static_cast<int64_t>(transferred);
  return ok;
}

bool TVEXDatabaseFile::SysWrite(const void* buffer, int64_t count, int64_t position) {
  if (!SysSeek(position)) return false;
  if (count < 0) {
    os::SetLastError(EINVAL);
    return false;
  }
  if (!FHandle.Write(buffer, static_cast<size_t>(count), FPosition)) return false;
  FPosition += count;
  return true;
}

int64_t TVEXDatabaseFile::PositionForMessage() const { return FHandle.IsOpen() ? FPosition : -1; }

int64_t TVEXDatabaseFile::SizeForMessage() {
  const int saved = os::LastError();
  int64_t size = -1;
  if (!FHandle.GetSize(size)) size = -1;
  os::SetLastError(saved);
  return size;
}

// ---- reads and writes ----

bool TVEXDatabaseFile::ReadTransferred(void* buffer, int64_t count, int64_t position,
                                       size_t& transferred) {
  return WithReopen([&] { return SysRead(buffer, count, position, transferred); });
}

bool TVEXDatabaseFile::ReadBuffer(void* Buffer, int64_t Count, int64_t Position) {
  CheckOpened("ReadBuffer");
  size_t transferred = 0;
  return ReadTransferred(Buffer, Count, Position, transferred);
}

bool TVEXDatabaseFile::ReadBuffer(void* Buffer, int64_t Count, int64_t Position,
                                  size_t& Transferred) {
  CheckOpened("ReadBuffer");
  return ReadTransferred(Buffer, Count, Position, Transferred);
}

void TVEXDatabaseFile::ReadBuffer(void* Buffer, int64_t Count, int64_t Position,
                                  int32_t ErrorCode) {
  CheckOpened("ReadBuffer");
  auto readPair = [&] {
    return ReadBuffer(Buffer, Count, Position) || ReadBuffer(Buffer, Count, Position);
  };
  if (WithReopen(readPair)) return;
  const int error = os::LastError();
  const int64_t filePosition = PositionForMessage();
  const int64_t fileSize = SizeForMessage();
  throw EVEXException(ErrorCode, kReadMessage, FFileName, Position, Count, filePosition, fileSize,
                      error, os::ErrorText(error));
}

void TVEXDatabaseFile::RaiseSeekError(int32_t errorCode, int64_t position) {
  const int64_t filePosition = PositionForMessage();
  const int64_t fileSize = SizeForMessage();
  throw EVEXException(errorCode != 0 ? errorCode : 30372, kSeekMessage, position, FFileName,
                      filePosition, fileSize);
}

void TVEXDatabaseFile::WriteBuffer(const void* Buffer, int64_t Count, int64_t Position,
                                   int32_t ErrorCode) {
  CheckOpened("WriteBuffer");
  if (!WithReopen([&] { return SysSeek(Position); })) RaiseSeekError(ErrorCode, Position);
  if (WithReopen([&] { return SysWrite(Buffer, Count, Position); })) return;
  const int error = os::LastError();
  const int64_t filePosition = PositionForMessage();
  const int64_t fileSize = SizeForMessage();
  throw EVEXException(ErrorCode, kWriteMessage, FFileName, Position, Count, filePosition, fileSize,
                      error, os::ErrorText(error));
}

void TVEXDatabaseFile::FlushFileBuffers() {
  CheckOpened("FlushFileBuffers");
  if (WithReopen([&] { return FHandle.Flush(); })) return;
  const int error = os::LastError();
  throw EVEXException(30379,
                      "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                      FFileName, error, os::ErrorText(error));
}

// ---- size and pointer ----

int64_t TVEXDatabaseFile::GetSize() {
  CheckOpened("GetSize");
  int64_t size = 0;
  if (WithReopen([&] { return FHandle.GetSize(size); })) return size;
  const int error = os::LastError();
  throw EVEXException(30371, "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                      FFileName, error, os::ErrorText(error));
}

void TVEXDatabaseFile::SetSize(int64_t NewSize) {
  CheckOpened("SetSize");
  auto seek = [&] { return WithReopen([&] { return SysSeek(NewSize); }); };
  if (!seek()) RaiseSeekError(30372, NewSize);
  if (FHandle.SetSize(NewSize)) return;
  int error = os::LastError();
  if (ReopenDatabaseFile()) {
    if (!seek()) RaiseSeekError(30372, NewSize);
    if (FHandle.SetSize(NewSize)) return;
    error = os::LastError();
  }
  throw EVEXException(30370,
                      "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s",
                      FFileName, NewSize, error, os::ErrorText(error));
}

int64_t TVEXDatabaseFile::GetPosition() {
  CheckOpened("GetPosition");
  auto query = [&] {
    if (FHandle.IsOpen()) return true;
    os::SetLastError(EBADF);
    return false;
  };
  if (WithReopen(query)) return FPosition;
  const int error = os::LastError();
  throw EVEXException(30373,
                      "Cannot Get File Position. FileName='%s' ErrorCode:%d. ErrorMessage: %s",
                      FFileName, error, os::ErrorText(error));
}

void TVEXDatabaseFile::SetPosition(int64_t NewPosition) {
  CheckOpened("SetPosition");
  if (!WithReopen([&] { return SysSeek(NewPosition); })) RaiseSeekError(30372, NewPosition);
}

// ---- byte locks ----

bool TVEXDatabaseFile::LockByte(int64_t Offset, uint32_t Count) {
  CheckOpened("LockByte");
  os::LockResult result = FHandle.Lock(Offset, Count);
  // Only a failed call may point at a lost connection; a busy byte is refused
  // and stays refused. Whatever the error, a lock not granted is not held.
  if (result == os::LockResult::Failed) {
    if (IsNetworkError()) FWasCriticalError = true;
    if (ReopenDatabaseFile()) {
      result = FHandle.Lock(Offset, Count);
      if (result == os::LockResult::Failed && IsNetworkError()) FWasCriticalError = true;
    }
  }
  if (result != os::LockResult::Granted) return false;
  FHeldLocks.emplace(Offset, Count);
  return true;
}

bool TVEXDatabaseFile::UnlockByte(int64_t Offset, uint32_t Count) {
  CheckOpened("UnlockByte");
  os::LockResult result = FHandle.Unlock(Offset, Count);
  bool lostWithConnection = false;
  if (result == os::LockResult::Failed) {
    lostWithConnection = IsNetworkError();
    if (!lostWithConnection && ReopenDatabaseFile()) {
      result = FHandle.Unlock(Offset, Count);
      lostWithConnection = result == os::LockResult::Failed && IsNetworkError();
    }
    if (lostWithConnection) FWasCriticalError = true;
  }
  // A lock whose connection broke is gone with it. At design time the file is
  // reopened around each operation, so the handle that took a lock may be
  // closed already, and its lock with it.
  if (result != os::LockResult::Granted && !lostWithConnection && DesignOpenCount < 1) {
    return false;
  }
  FHeldLocks.erase({Offset, Count});
  return true;
}

bool TVEXDatabaseFile::TestRegion(int64_t offset, uint32_t count) {
  os::LockResult result = FHandle.TestLock(offset, count);
  if (result == os::LockResult::Failed) {
    if (IsNetworkError()) FWasCriticalError = true;
    if (ReopenDatabaseFile()) result = FHandle.TestLock(offset, count);
  }
  // A test that could not be made answers "locked": nobody may rely on a byte
  // being free that was never seen free.
  return result != os::LockResult::Granted;
}

bool TVEXDatabaseFile::IsByteLocked(int64_t Offset) {
  CheckOpened("IsByteLocked");
  return TestRegion(Offset, 1);
}

bool TVEXDatabaseFile::IsRegionLocked(int64_t Offset, uint32_t Count) {
  CheckOpened("IsRegionLocked");
  return TestRegion(Offset, Count);
}

// ---- signature search ----

bool TVEXDatabaseFile::FindSignature(int64_t& Offset) {
  ScopeExit restorePosition([this, savedPosition = GetPosition()] { FPosition = savedPosition; });
  const TVEXMemBlock window = TVEXMemBlock::GetMem(kSearchWindowSize);
  uint8_t* const buffer = window.As<uint8_t>();

  auto isSignature = [](const uint8_t* at) {
    return std::memcmp(at, kSignature, kSignatureLength) == 0;
  };

  size_t got = 0;
  if (ReadTransferred(buffer, kSignatureLength + kDBHeaderSize, 0, got) &&
      got >= kSignatureLength + 2 && isSignature(buffer) &&
      IsHeaderSize(buffer + kSignatureLength)) {
    Offset = 0;
    return true;
  }

  const int64_t fileSize = GetSize();
  // Consecutive windows overlap by the signature's length, so a signature that
  // crosses the end of one window lies whole in the next.
  for (int64_t start = 0; start < fileSize;
       start += kSearchWindowSize - static_cast<int64_t>(kSignatureLength)) {
    if (!ReadTransferred(buffer, kSearchWindowSize, start, got)) return false;
    for (size_t i = 0; i + kSignatureLength <= got; ++i) {
      const void* hit = std::memchr(buffer + i, kSignature[0], got - kSignatureLength + 1 - i);
      if (hit == nullptr) break;
      i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - buffer);
      if (!isSignature(buffer + i)) continue;
      uint8_t sizeBytes[2];
      if (i + kSignatureLength + 2 <= got) {
        std::memcpy(sizeBytes, buffer + i + kSignatureLength, 2);
      } else {
        // The header size lies past the window: take it from the file, and a
        // signature that ends the file has no header behind it.
        size_t tail = 0;
        const int64_t at = start + static_cast<int64_t>(i + kSignatureLength);
        if (!ReadTransferred(sizeBytes, 2, at, tail) || tail != 2) continue;
      }
      if (IsHeaderSize(sizeBytes)) {
        Offset = start + static_cast<int64_t>(i);
        return true;
      }
    }
  }
  return false;
}

// ---- reopening ----

bool TVEXDatabaseFile::ReopenDatabaseFile() {
  if (!FIsOpened) return false;
  int64_t size = 0;
  const int error = os::LastError();
  if (FHandle.GetSize(size)) {
    os::SetLastError(error);
    return true;
  }
  // Closing a handle drops its byte locks while their owners still count on
  // them; such a handle is not replaced, and the failure stands until they are
  // released.
  if (!FHeldLocks.empty()) return false;

  os::Access access = os::Access::ReadWrite;
  os::Share share = os::Share::Exclusive;
  AccessModeFor(FAccessMode, access);
  ShareModeFor(FShareMode, share);
  for (int attempt = 1; attempt <= kReopenAttempts; ++attempt) {
    if (FHandle.IsOpen()) FHandle.Close();
    FHeldLocks.clear();
    if (FHandle.Open(FFileName, access, share, os::Disposition::OpenExisting)) break;
    if (attempt < kReopenAttempts) os::CurrentClock().Sleep(kReopenPauseMs);
  }
  return FHandle.IsOpen();
}

// ---- design time ----

void TVEXDatabaseFile::OpenFileForDesignTime() {
  if (DesignOpenCount == 0) OpenFile(FFileName, FAccessMode, FShareMode);
  ++DesignOpenCount;
}

void TVEXDatabaseFile::CloseFileForDesignTime() {
  if (DesignOpenCount < 1) return;
  --DesignOpenCount;
  if (DesignOpenCount == 0) CloseFile();
}

}  // namespace vex
