// os::File: the one door through which the engine reads, writes and locks files.
//
// What it is for. The engine was written against a platform whose files have
// share modes, mandatory byte-range locks that never nest and a per-thread last
// error. This class gives it those semantics over POSIX:
//
//  * Whole-buffer positioned I/O with 64-bit offsets (pread/pwrite loops that ride
//    over EINTR and short transfers). There is no file pointer: every read and
//    write names its position.
//  * Byte-range locks over open-file-description locks (F_OFD_SETLK/F_OFD_GETLK).
//    They belong to the handle, not to the process, so two File objects of one
//    process refuse each other's locks exactly as two processes do, and a lock
//    goes when its handle closes or its process dies, whatever the cause. No lock
//    call ever waits.
//    Locks are advisory: unlike the original platform's, they do not make reads
//    or writes of the locked bytes through other handles fail. The engine never
//    reads or writes the bytes it uses as lock targets, so nothing depends on it.
//  * Locks do not nest: each handle keeps a registry of what it holds, refuses a
//    lock that overlaps one of its own, refuses to unlock anything but a region it
//    locked (offset and count exactly), and answers a trial test from the
//    registry before it asks the system, so a test never disturbs its own locks.
//  * Share modes, which Linux lacks, are emulated with read locks on sentinel
//    bytes at the top of the 63-bit offset range (see kLockLimit): an open whose
//    access or share mode collides with another open handle of the file, in this
//    process or another, is refused with kSharingViolation. The same sentinels make
//    Delete, Rename and Replace refuse a file that any handle has open.
//
// Failures. Every operation says what it returns on failure; a failed operation
// leaves the errno value in os::LastError() (OsError.h). A lock that another
// handle holds is a refusal (LockResult::Refused), never a failure, so that a
// caller that treats some failures as a lost network never mistakes a busy lock
// for one.
//
// Threads. A File is not copyable; it may be moved while no other thread uses it.
// Read, Write, GetSize, Flush and the lock calls may run on one handle from
// several threads at once; Open, Close, SetSize and moves may not overlap any
// other call on the same handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace os {

enum class Access { Read, Write, ReadWrite };

// What other handles of the same file may do while this one is open.
enum class Share {
  Exclusive,  // nothing: no other handle may be open
  DenyWrite,  // others may read, not write
  DenyRead,   // others may write, not read
  DenyNone,   // others may read and write
};

enum class Disposition {
  OpenExisting,  // the file must exist
  CreateAlways,  // create it, or empty an existing one (only once the share check has passed)
};

enum class LockResult {
  Granted,  // the lock is held (Lock), released (Unlock), or could be taken now (TestLock)
  Refused,  // another handle holds an overlapping lock, or this handle does (Lock, TestLock);
            // this handle holds no lock of exactly that region (Unlock). Last error: EAGAIN
            // for a conflict, ENOLCK for an unlock of nothing.
  Failed,   // the call itself failed (closed handle, bad region, I/O error); see LastError()
};

class File {
 public:
  // Locks must lie entirely below this offset; the bytes from here to the top of
  // the 63-bit range carry the share-mode emulation.
  static constexpr int64_t kLockLimit = INT64_MAX - 15;

  File() noexcept = default;
  ~File();  // closes the file when open; never throws
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens (or, with CreateAlways, creates) the file at `path`. The handle must be
  // closed. Returns true and keeps the handle open on success; returns false,
  // leaves the handle closed and sets LastError on failure: kSharingViolation
  // when another open handle's share mode forbids `access`, or this `share`
  // forbids what another handle already has; the open(2) error otherwise (ENOENT,
  // EACCES, EISDIR, ...). A file this process may not write can still be opened
  // with Access::Read; its locks are then shared read locks, which conflict only
  // with handles that can write.
  bool Open(const std::string& path, Access access, Share share,
            Disposition disposition = Disposition::OpenExisting);

  // Closes the handle and drops its locks. Returns true on success; false when
  // the handle was not open (EBADF) or close(2) reported an error, in which case
  // the handle is closed all the same.
  bool Close();

  bool IsOpen() const noexcept { return FFd >= 0; }
  // The name the file was opened or created under (also after Close).
  const std::string& Path() const noexcept { return FPath; }
  Access GetAccess() const noexcept { return FAccess; }
  Share GetShare() const noexcept { return FShare; }

  // Reads `count` bytes at `position` into `buffer`. Returns true when the read
  // succeeded, also when the end of the file came first: the bytes up to the end
  // are transferred, the rest of the buffer is left as it was, and `transferred`
  // (when given) receives the number actually read. Returns false on failure
  // (EBADF when closed or opened for writing only, EINVAL for a negative position,
  // the pread(2) error otherwise); the buffer may then be partly filled.
  bool Read(void* buffer, size_t count, int64_t position, size_t* transferred = nullptr);

  // Writes the whole of `count` bytes at `position`, growing the file when the
  // region runs past its end. Returns true when every byte was written; false
  // otherwise (EBADF when closed or opened for reading only, EINVAL for a negative
  // position, the pwrite(2) error such as ENOSPC or EIO), in which case part of
  // the buffer may have been written.
  bool Write(const void* buffer, size_t count, int64_t position);

  // The file's size in bytes into `size`. Returns false (and leaves `size`) on
  // failure.
  bool GetSize(int64_t& size);

  // Makes the file `size` bytes long. Growing reserves the disk space at once
  // (fallocate), so a full disk shows here (ENOSPC, size unchanged) rather than in
  // a later write; the new bytes read as zeros. Shrinking cuts the file. Returns
  // false on failure (EBADF when closed or read-only, EINVAL for a negative size).
  bool SetSize(int64_t size);

  // Forces the file's data to the device (fdatasync). Returns false on failure.
  bool Flush();

  // Locks `count` bytes at `offset` for this handle without waiting. The region
  // must be non-empty and lie below kLockLimit (else Failed, EINVAL).
  LockResult Lock(int64_t offset, int64_t count);

  // Releases the lock this handle took on exactly (`offset`, `count`). Refused
  // when the handle holds no such lock (a region it does not hold is never
  // touched, so a wrong unlock cannot free part of another lock).
  LockResult Unlock(int64_t offset, int64_t count);

  // Would Lock(offset, count) be granted now? Granted when it would; Refused when
  // this handle or another holds an overlapping lock. Changes no lock.
  LockResult TestLock(int64_t offset, int64_t count);

  // Deletes the file at `path`. Refused with kSharingViolation while any handle
  // (of any process) has it open through this class. Returns false with the
  // unlink(2) error otherwise.
  static bool Delete(const std::string& path);

  // Moves `from` to `to`, never replacing an existing file (EEXIST). Refused with
  // kSharingViolation while any handle has `from` open. Returns false on failure.
  static bool Rename(const std::string& from, const std::string& to);

  // Moves `from` over `to` in one atomic step: afterwards `to` names what was
  // `from` and `from` is gone; an existing `to` is replaced, and at no moment
  // is there no file named `to` (a crash leaves either the old or the new one).
  // Both names must lie on one file system (else EXDEV). Refused with
  // kSharingViolation while any handle (of any process) has either file open
  // through this class. Returns false with the rename(2) error otherwise
  // (ENOENT for a missing `from`, EISDIR, ...). On every failure both files are
  // as they were.
  static bool Replace(const std::string& from, const std::string& to);

  // True when the file exists and may not be written: it has no write permission
  // bit at all (the counterpart of a read-only attribute, which binds even the
  // superuser), this process lacks write permission, or it lies on a read-only
  // file system. False for a writable file and when the file cannot be examined
  // (LastError then says why, e.g. ENOENT).
  static bool IsReadOnly(const std::string& path);

  // The bytes still free for this process on the file system that holds `path`
  // (a file or folder; a file yet to be created is looked up through its folder),
  // into `bytes`. Returns false (ENOENT, EACCES, ...) when it cannot be found out.
  static bool FreeSpace(const std::string& path, int64_t& bytes);

  // The identity of the file a name refers to: the canonical absolute path
  // (realpath), symbolic links and "." / ".." resolved. Two names refer to the
  // same file exactly when their identities are equal strings; the comparison is
  // case-sensitive, as Linux paths are. A file that does not exist yet gets the
  // canonical path of its folder followed by its name; when even the folder
  // cannot be resolved, the lexically normalised absolute path. Never fails.
  static std::string Identity(const std::string& path);

 private:
  friend File AdoptTemporaryFile(int fd, std::string path);

  bool CheckOpen(bool forWrite, bool forRead);
  bool ValidRegion(int64_t offset, int64_t count);
  bool OverlapsOwnLock(int64_t offset, int64_t count) const;
  void Reset() noexcept;

  int FFd = -1;
  bool FFdWritable = false;  // the descriptor can write (and so can take exclusive locks)
  std::string FPath;
  Access FAccess = Access::ReadWrite;
  Share FShare = Share::Exclusive;
  // The regions this handle has locked: offset -> count. Regions never overlap.
  std::map<int64_t, int64_t> FLocks;
  mutable std::mutex FLocksMutex;
};

}  // namespace os
