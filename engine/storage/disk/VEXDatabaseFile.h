// The disk engine's access to the operating-system file that holds a database.
//
// TVEXDatabaseFile is the only object through which the disk engine opens,
// reads, writes, resizes, flushes, deletes, renames and byte-locks a database
// file; byte locks are how separate connections to one file (other processes,
// or other open databases of this process) coordinate. Every call reaches the
// system through os::File, and every pause goes through os::Clock, so tests run
// the long waits in virtual time.
//
// One rule lets an open database ride out a short outage of the storage it lives
// on (a dropped network share): when a call fails, the handle is tested, reopened
// when it has gone bad, and the call is made once more. A handle that holds byte
// locks is never reopened, because closing it would drop those locks while their
// owners still count on them; the failure is reported instead.
//
// Locks fail closed: LockByte answers true only for a lock the system granted.
// A busy byte (os::LockResult::Refused) is a plain refusal and never counts as a
// broken connection.
//
// There is no buffering here; the page manager above keeps the cache. The object
// has no lock of its own: its owner uses it under the owning database's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include "os/File.h"

namespace vex {

enum TVEXAccessMode : uint8_t { amReadOnly, amReadWrite };

enum TVEXShareMode : uint8_t { smExclusive, smShareDenyNone, smShareDenyWrite };

// Calls Func up to TryCount times and answers true at its first success. After
// every failed call, the last one included, it sleeps DelayMS milliseconds on the
// current os::Clock, so a call that never succeeds costs TryCount x DelayMS.
bool RetryCall(int32_t TryCount, int32_t DelayMS, const std::function<bool()>& Func);

// Whether the calling thread's last system error (os::LastError) is one that a
// lost connection to the file's storage produces: access revoked, a handle the
// system no longer knows, an I/O error, a stale remote file, or a network fault.
bool IsNetworkError();

class TVEXDatabaseFile {
 public:
  TVEXDatabaseFile() = default;
  // Closes the file when it is open; never throws.
  ~TVEXDatabaseFile();
  TVEXDatabaseFile(const TVEXDatabaseFile&) = delete;
  TVEXDatabaseFile& operator=(const TVEXDatabaseFile&) = delete;

  // Replaces any file of that name by a new empty one, opened read-write and
  // exclusive. Needs a closed object (30377); a blank name raises 30374, a
  // failed create 30361.
  void CreateAndOpenFile(const std::string& FileName);
  // Opens an existing file. Needs a closed object (30377). The name and modes
  // are stored first, also when the open is then refused: an access or share
  // value outside its enumeration raises 30366 or 30367, a failed open 30364.
  void OpenFile(const std::string& FileName, TVEXAccessMode AccessMode, TVEXShareMode ShareMode);
  // Closes the file (30376 when closed). The object is closed afterwards even
  // when the system reports a failure, which then raises 30365.
  void CloseFile();
  // Deletes the file this object last created or opened; the argument plays no
  // part. Needs a closed object; a failure raises 30362.
  void DeleteFile(const std::string& FileName);
  // Moves a file, never over an existing one; a failure raises 30378.
  void RenameFile(const std::string& OldFileName, const std::string& NewFileName);

  // Reads Count bytes at Position. True on success, also when the end of the
  // file comes first (the bytes past it are left as they were in Buffer); false
  // on failure. Raises only for a closed object (30376).
  bool ReadBuffer(void* Buffer, int64_t Count, int64_t Position);
  // The same; Transferred gets the bytes read, fewer than Count when the end
  // of the file came first.
  bool ReadBuffer(void* Buffer, int64_t Count, int64_t Position, size_t& Transferred);
  // The same, but a failure raises ErrorCode with the read message.
  void ReadBuffer(void* Buffer, int64_t Count, int64_t Position, int32_t ErrorCode);
  // Writes Count bytes at Position; a failure raises ErrorCode (a failed seek
  // raises ErrorCode too, or 30372 when ErrorCode is 0).
  void WriteBuffer(const void* Buffer, int64_t Count, int64_t Position, int32_t ErrorCode);
  // Forces the file's data to its device; a failure raises 30379.
  void FlushFileBuffers();

  // The file size (30371 on failure).
  int64_t GetSize();
  // Makes the file NewSize bytes long and leaves the file pointer there (30372
  // when the pointer cannot go there, 30370 when the end cannot be set).
  void SetSize(int64_t NewSize);
  // The file pointer: where the last read or write ended, or where it was set.
  int64_t GetPosition();
  void SetPosition(int64_t NewPosition);

  // Takes a lock on Count bytes at Offset without waiting; true only when the
  // system granted it. A byte this object already holds is refused.
  bool LockByte(int64_t Offset, uint32_t Count);
  // Releases a lock this object took. True when released; also true when the
  // release failed because the connection that held the lock is gone (the lock
  // went with it), and, while the file is open for design time, for any failure
  // (the handle that took the lock may have been closed since).
  bool UnlockByte(int64_t Offset, uint32_t Count);
  // Whether the byte (the region) could not be locked now, by another handle or
  // because this object holds it. Changes no lock.
  bool IsByteLocked(int64_t Offset);
  bool IsRegionLocked(int64_t Offset, uint32_t Count);

  // Finds the database header in the file: at offset 0, or behind a stub
  // program, where the signature is followed by the header size 76. Answers
  // true with its Offset; leaves Offset and the file pointer unchanged.
  bool FindSignature(int64_t& Offset);

  // Repairs a handle that has gone bad: true when the handle works afterwards.
  // A working handle is left alone; a bad one is reopened (up to 3 opens, 1000
  // ms apart) unless it holds byte locks. Does nothing for a closed object.
  bool ReopenDatabaseFile();

  // Nested open and close around each operation in design-time mode: the file
  // is opened with the stored name and modes by the outermost call and closed
  // by the matching close. A close without an open does nothing.
  void OpenFileForDesignTime();
  void CloseFileForDesignTime();

  const std::string& FileName() const { return FFileName; }
  bool IsOpened() const { return FIsOpened; }
  // Set once a lock call has failed with a network-type error; kept for the
  // life of the object as a record of a broken connection. It never turns a
  // failed lock into a granted one.
  bool WasCriticalError() const { return FWasCriticalError; }

  // Nesting count of design-time opens.
  int32_t DesignOpenCount = 0;

 protected:
  // The open file; closed while the object is closed, and also while it is open
  // but a failed reopen has left it without a working handle.
  os::File FHandle;

 private:
  void CheckOpened(const char* operation) const;
  void CheckClosed(const char* operation) const;

  // Runs attempt; when it fails, ReopenDatabaseFile and, when that answers
  // true, attempt once more. On failure the last error is the attempt's own.
  template <class Attempt>
  bool WithReopen(Attempt attempt);

  bool SysSeek(int64_t position);
  bool SysRead(void* buffer, int64_t count, int64_t position, size_t& transferred);
  bool SysWrite(const void* buffer, int64_t count, int64_t position);
  bool ReadTransferred(void* buffer, int64_t count, int64_t position, size_t& transferred);
  bool TestRegion(int64_t offset, uint32_t count);

  // The file pointer and size for an error message, fetched without raising and
  // without reopening; -1 when unknown.
  int64_t PositionForMessage() const;
  int64_t SizeForMessage();
  [[noreturn]] void RaiseSeekError(int32_t errorCode, int64_t position);

  std::string FFileName;
  TVEXAccessMode FAccessMode = amReadWrite;
  TVEXShareMode FShareMode = smExclusive;
  bool FIsOpened = false;
  bool FWasCriticalError = false;
  // os::File keeps no file pointer; the engine's notion of one lives here.
  int64_t FPosition = 0;
  // The regions this object has locked and not released (offset, count).
  std::set<std::pair<int64_t, uint32_t>> FHeldLocks;
};

}  // namespace vex
