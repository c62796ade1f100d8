// POSIX implementation of os::File. See File.h for the contract; the notes here
// are about how share modes and the lock registry are kept honest.
//
// Share-mode sentinels. Every open handle holds read locks on the sentinel bytes
// that describe it: one byte for "has read access", one for "has write access",
// one for "denies read" and one for "denies write". An opener first publishes its
// own bytes, then looks (F_OFD_GETLK) for another handle's lock on each byte that
// contradicts it. Publishing before looking means that of two racing openers at
// least one sees the other, so two incompatible opens can never both succeed.
// Openers that can write also hold a mutex byte (an exclusive lock) across
// publish-and-look, so that two of them never refuse each other spuriously, and
// Delete, Rename and Replace hold it across their in-use test and the unlink or
// rename (Replace holds the bytes of both files, taken in one order).
#include "os/File.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "os/FileFaults.h"
#include "os/OsError.h"

namespace os {

namespace {

constexpr int64_t kMutexByte = File::kLockLimit;
constexpr int64_t kHasReadByte = File::kLockLimit + 1;
constexpr int64_t kHasWriteByte = File::kLockLimit + 2;
constexpr int64_t kDenyReadByte = File::kLockLimit + 3;
constexpr int64_t kDenyWriteByte = File::kLockLimit + 4;

bool SetRange(int fd, short type, int64_t offset, int64_t count, bool wait) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = count;
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
    if (errno != EINTR) return false;
  }
}

// Does a handle other than the one behind `fd` hold a lock that conflicts with a
// lock of `type` on the region? -1 when the test itself failed.
int HeldByOther(int fd, short type, int64_t offset, int64_t count) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = count;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return -1;
  return fl.l_type == F_UNLCK ? 0 : 1;
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0666) {
  for (;;) {
    int fd = ::open(path, flags, mode);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

bool CannotWrite(int error) {
  return error == EACCES || error == EROFS || error == ETXTBSY || error == EPERM;
}

bool Fail(int error) {
  SetLastError(error);
  return false;
}

// Closes a descriptor without touching errno or the last error.
void QuietClose(int fd) {
  int saved = errno;
  ::close(fd);
  errno = saved;
}

// Publishes this handle's sentinel bytes and checks them against every other
// handle. On failure the bytes are withdrawn and the last error is set.
bool AcquireShare(int fd, bool fdWritable, Access access, Share share) {
  const bool wantsRead = access != Access::Write;
  const bool wantsWrite = access != Access::Read;
  const bool deniesRead = share == Share::Exclusive || share == Share::DenyRead;
  const bool deniesWrite = share == Share::Exclusive || share == Share::DenyWrite;

  if (fdWritable && !SetRange(fd, F_WRLCK, kMutexByte, 1, /*wait=*/true)) return Fail(errno);

  bool ok = true;
  int error = 0;
  auto publish = [&](bool wanted, int64_t byte) {
    if (ok && wanted && !SetRange(fd, F_RDLCK, byte, 1, false)) {
      ok = false;
      error = errno;
    }
  };
  publish(wantsRead, kHasReadByte);
  publish(wantsWrite, kHasWriteByte);
  publish(deniesRead, kDenyReadByte);
  publish(deniesWrite, kDenyWriteByte);

  auto clash = [&](bool relevant, int64_t byte) {
    if (!ok || !relevant) return;
    int held = HeldByOther(fd, F_WRLCK, byte, 1);
    if (held != 0) {
      ok = false;
      error = held < 0 ? errno : kSharingViolation;
    }
  };
  clash(wantsRead, kDenyReadByte);
  clash(wantsWrite, kDenyWriteByte);
  clash(deniesRead, kHasReadByte);
  clash(deniesWrite, kHasWriteByte);

  // A file unlinked between our open(2) and now is gone for everyone else; do not
  // hand out a handle to it.
  if (ok) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
      ok = false;
      error = errno;
    } else if (st.st_nlink == 0) {
      ok = false;
      error = ENOENT;
    }
  }

  if (!ok) SetRange(fd, F_UNLCK, kHasReadByte, 4, false);
  if (fdWritable) SetRange(fd, F_UNLCK, kMutexByte, 1, false);
  if (!ok) return Fail(error);
  return true;
}

// A look at one file on behalf of Delete, Rename and Replace: a descriptor of
// the file that holds the file's mutex byte, so that no opener that can write
// publishes its sentinels while the change is decided and made.
class InUseProbe {
 public:
  InUseProbe() = default;
  InUseProbe(const InUseProbe&) = delete;
  InUseProbe& operator=(const InUseProbe&) = delete;
  ~InUseProbe() {
    if (FFd < 0) return;
    if (FLocked) SetRange(FFd, F_UNLCK, kMutexByte, 1, false);
    QuietClose(FFd);
  }

  // Opens `path`; false when it cannot be opened (missing, a folder, no read
  // permission), in which case no handle of ours can hold it either.
  bool Open(const std::string& path) {
    FFd = OpenRetrying(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    FWritable = FFd >= 0;
    if (FFd < 0 && CannotWrite(errno))
      FFd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (FFd < 0) return false;
    struct stat st {};
    if (fstat(FFd, &st) == 0) FKey = {st.st_dev, st.st_ino};
    return true;
  }
  bool IsOpen() const { return FFd >= 0; }
  // Which file it is, to order the mutex bytes of two files and to see one
  // file under two names.
  std::pair<dev_t, ino_t> Key() const { return FKey; }
  // Takes the mutex byte (waiting for an opener that holds it); 0 or errno.
  int Lock() {
    if (!FWritable) return 0;
    if (!SetRange(FFd, F_WRLCK, kMutexByte, 1, /*wait=*/true)) return errno;
    FLocked = true;
    return 0;
  }
  // 0 when no handle has the file open, else kSharingViolation or errno.
  int InUse() const {
    int held = HeldByOther(FFd, F_WRLCK, kHasReadByte, 2);
    if (held < 0) return errno;
    return held > 0 ? kSharingViolation : 0;
  }

 private:
  int FFd = -1;
  bool FWritable = false;
  bool FLocked = false;
  std::pair<dev_t, ino_t> FKey{};
};

// Runs `change` (an unlink or rename) unless some handle has one of `paths`
// open. Returns false with the last error set when refused or failed.
template <class Change>
bool ChangeUnlessInUse(std::initializer_list<const std::string*> paths, Change change) {
  std::vector<std::unique_ptr<InUseProbe>> probes;
  for (const std::string* path : paths) {
    auto probe = std::make_unique<InUseProbe>();
    if (!probe->Open(*path)) continue;
    // One file under two names is looked at once: two descriptors of it
    // would wait for each other's mutex byte.
    const bool seen = std::any_of(probes.begin(), probes.end(),
                                  [&](const auto& p) { return p->Key() == probe->Key(); });
    if (!seen) probes.push_back(std::move(probe));
  }
  // Every changer takes the mutex bytes in one order, so two of them never
  // wait for each other.
  std::sort(probes.begin(), probes.end(),
            [](const auto& a, const auto& b) { return a->Key() < b->Key(); });
  for (auto& probe : probes) {
    if (int error = probe->Lock(); error != 0) return Fail(error);
  }
  for (auto& probe : probes) {
    if (int error = probe->InUse(); error != 0) return Fail(error);
  }
  if (change() != 0) return Fail(errno);
  return true;
}

#ifdef VALMORA_TEST_HOOKS
std::atomic<uint64_t> gWritesCounted{0};
std::atomic<uint64_t> gFaultAt{0};  // 0: disarmed
std::atomic<int> gFaultKind{0};
std::atomic<int> gFaultExitCode{77};
std::atomic<int> gReplaceFault{0};

// True when this write must fail with EIO; never returns for ExitProcess.
bool WriteFaultFires() {
  uint64_t n = gWritesCounted.fetch_add(1) + 1;
  uint64_t at = gFaultAt.load();
  if (at == 0 || n < at) return false;
  auto kind = static_cast<faults::WriteFault>(gFaultKind.load());
  if (kind == faults::WriteFault::ExitProcess) _exit(gFaultExitCode.load());
  if (kind == faults::WriteFault::FailOnce) return n == at;
  return true;
}
#endif

}  // namespace

#ifdef VALMORA_TEST_HOOKS
namespace faults {
void ArmWriteFault(uint64_t k, WriteFault fault, int exitCode) {
  gFaultAt.store(0);
  gFaultKind.store(static_cast<int>(fault));
  gFaultExitCode.store(exitCode);
  gWritesCounted.store(0);
  gFaultAt.store(k == 0 ? 1 : k);
}
void DisarmWriteFault() { gFaultAt.store(0); }
uint64_t WritesCounted() { return gWritesCounted.load(); }
void FailNextReplace(int error) { gReplaceFault.store(error); }
}  // namespace faults
#endif

File::~File() {
  if (FFd >= 0) ::close(FFd);
}

File::File(File&& other) noexcept { *this = std::move(other); }

File& File::operator=(File&& other) noexcept {
  if (this == &other) return *this;
  if (FFd >= 0) ::close(FFd);
  FFd = other.FFd;
  FFdWritable = other.FFdWritable;
  FPath = std::move(other.FPath);
  FAccess = other.FAccess;
  FShare = other.FShare;
  FLocks = std::move(other.FLocks);
  other.Reset();
  return *this;
}

void File::Reset() noexcept {
  FFd = -1;
  FFdWritable = false;
  FLocks.clear();
}

bool File::Open(const std::string& path, Access access, Share share, Disposition disposition) {
  if (FFd >= 0) return Fail(EINVAL);  // not the sharing code: nothing else was in the way
  const bool create = disposition == Disposition::CreateAlways;
  // The descriptor is opened for writing whenever possible, also for a read-only
  // handle: exclusive byte-range locks need a writable descriptor. The handle's
  // own access is enforced by Read and Write.
  int flags = O_RDWR | O_CLOEXEC | O_NOCTTY | (create ? O_CREAT : 0);
  int fd = OpenRetrying(path.c_str(), flags);
  bool writable = fd >= 0;
  if (fd < 0 && access == Access::Read && !create && CannotWrite(errno)) {
    fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  }
  if (fd < 0) return Fail(errno);

  struct stat st {};
  int statError = fstat(fd, &st) != 0 ? errno : 0;
  if (statError == 0 && !S_ISREG(st.st_mode)) statError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  if (statError != 0) {
    QuietClose(fd);
    return Fail(statError);
  }
  if (!AcquireShare(fd, writable, access, share)) {
    QuietClose(fd);
    return false;
  }
  // Emptying waits for the share check: a file another handle may not lose must
  // not lose its content either.
  if (create && ftruncate(fd, 0) != 0) {
    int error = errno;
    QuietClose(fd);
    return Fail(error);
  }
  std::lock_guard guard(FLocksMutex);
  FFd = fd;
  FFdWritable = writable;
  FPath = path;
  FAccess = access;
  FShare = share;
  FLocks.clear();
  return true;
}

bool File::Close() {
  if (FFd < 0) return Fail(EBADF);
  int fd = FFd;
  {
    std::lock_guard guard(FLocksMutex);
    Reset();
  }
  if (::close(fd) != 0) return Fail(errno);
  return true;
}

bool File::CheckOpen(bool forWrite, bool forRead) {
  if (FFd < 0) return Fail(EBADF);
  if (forWrite && (FAccess == Access::Read || !FFdWritable)) return Fail(EBADF);
  if (forRead && FAccess == Access::Write) return Fail(EBADF);
  return true;
}

bool File::Read(void* buffer, size_t count, int64_t position, size_t* transferred) {
  if (transferred) *transferred = 0;
  if (!CheckOpen(false, true)) return false;
  if (position < 0) return Fail(EINVAL);
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(FFd, out + done, count - done, position + static_cast<int64_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      if (transferred) *transferred = done;
      return Fail(errno);
    }
    if (n == 0) break;  // end of file: the rest of the buffer stays as it was
    done += static_cast<size_t>(n);
  }
  if (transferred) *transferred = done;
  return true;
}

bool File::Write(const void* buffer, size_t count, int64_t position) {
  if (!CheckOpen(true, false)) return false;
  if (position < 0) return Fail(EINVAL);
#ifdef VALMORA_TEST_HOOKS
  if (WriteFaultFires()) return Fail(EIO);
#endif
  auto* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::pwrite(FFd, in + done, count - done, position + static_cast<int64_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) return Fail(EIO);  // no progress: never loop forever
    done += static_cast<size_t>(n);
  }
  return true;
}

bool File::GetSize(int64_t& size) {
  if (!CheckOpen(false, false)) return false;
  struct stat st {};
  if (fstat(FFd, &st) != 0) return Fail(errno);
  size = st.st_size;
  return true;
}

bool File::SetSize(int64_t size) {
  if (!CheckOpen(true, false)) return false;
  if (size < 0) return Fail(EINVAL);
  int64_t current = 0;
  if (!GetSize(current)) return false;
  if (size > current) {
    int rc;
    do {
      rc = ::fallocate(FFd, 0, current, size - current);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return true;
    int error = errno;
    if (error != EOPNOTSUPP && error != ENOSYS) {
      // A failed reservation may still have moved the end; put it back. The
      // reservation's error is the one worth reporting.
      (void)!ftruncate(FFd, current);
      return Fail(error);
    }
    // The file system cannot reserve space: plain extension is the best there is.
  }
  if (ftruncate(FFd, size) != 0) return Fail(errno);
  return true;
}

bool File::Flush() {
  if (!CheckOpen(false, false)) return false;
  for (;;) {
    if (fdatasync(FFd) == 0) return true;
    if (errno != EINTR) return Fail(errno);
  }
}

bool File::ValidRegion(int64_t offset, int64_t count) {
  if (offset < 0 || count <= 0 || offset >= kLockLimit || count > kLockLimit - offset) {
    return Fail(EINVAL);
  }
  return true;
}

bool File::OverlapsOwnLock(int64_t offset, int64_t count) const {
  // Regions in the registry never overlap, so only the nearest one starting at or
  // before `offset` and the first one after it can reach into the region.
  auto next = FLocks.upper_bound(offset);
  if (next != FLocks.end() && next->first < offset + count) return true;
  if (next != FLocks.begin()) {
    auto prev = std::prev(next);
    if (prev->first + prev->second > offset) return true;
  }
  return false;
}

LockResult File::Lock(int64_t offset, int64_t count) {
  if (!CheckOpen(false, false) || !ValidRegion(offset, count)) return LockResult::Failed;
  std::lock_guard guard(FLocksMutex);
  if (OverlapsOwnLock(offset, count)) {
    SetLastError(EAGAIN);
    return LockResult::Refused;
  }
  if (!SetRange(FFd, FFdWritable ? F_WRLCK : F_RDLCK, offset, count, false)) {
    int error = errno;
    // Some file systems answer a conflict with EACCES, which callers read as a
    // revoked share; a refusal always leaves EAGAIN.
    bool conflict = error == EAGAIN || error == EACCES;
    SetLastError(conflict ? EAGAIN : error);
    return conflict ? LockResult::Refused : LockResult::Failed;
  }
  FLocks.emplace(offset, count);
  return LockResult::Granted;
}

LockResult File::Unlock(int64_t offset, int64_t count) {
  if (!CheckOpen(false, false) || !ValidRegion(offset, count)) return LockResult::Failed;
  std::lock_guard guard(FLocksMutex);
  auto it = FLocks.find(offset);
  if (it == FLocks.end() || it->second != count) {
    SetLastError(ENOLCK);
    return LockResult::Refused;
  }
  if (!SetRange(FFd, F_UNLCK, offset, count, false)) {
    SetLastError(errno);
    return LockResult::Failed;
  }
  FLocks.erase(it);
  return LockResult::Granted;
}

LockResult File::TestLock(int64_t offset, int64_t count) {
  if (!CheckOpen(false, false) || !ValidRegion(offset, count)) return LockResult::Failed;
  std::lock_guard guard(FLocksMutex);
  if (OverlapsOwnLock(offset, count)) {
    SetLastError(EAGAIN);
    return LockResult::Refused;
  }
  int held = HeldByOther(FFd, FFdWritable ? F_WRLCK : F_RDLCK, offset, count);
  if (held < 0) {
    SetLastError(errno);
    return LockResult::Failed;
  }
  if (held > 0) {
    SetLastError(EAGAIN);
    return LockResult::Refused;
  }
  return LockResult::Granted;
}

bool File::Delete(const std::string& path) {
  return ChangeUnlessInUse({&path}, [&] { return ::unlink(path.c_str()); });
}

bool File::Rename(const std::string& from, const std::string& to) {
  return ChangeUnlessInUse({&from}, [&]() -> int {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
    // A file system without RENAME_NOREPLACE: link(2) refuses an existing target
    // just as atomically.
    if (::link(from.c_str(), to.c_str()) != 0) return -1;
    return ::unlink(from.c_str());
  });
}

bool File::Replace(const std::string& from, const std::string& to) {
#ifdef VALMORA_TEST_HOOKS
  if (int error = gReplaceFault.exchange(0); error != 0) return Fail(error);
#endif
  return ChangeUnlessInUse({&from, &to}, [&] { return ::rename(from.c_str(), to.c_str()); });
}

bool File::IsReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Fail(errno);
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  if (::access(path.c_str(), W_OK) != 0) {
    if (errno == EACCES || errno == EROFS || errno == EPERM || errno == ETXTBSY) return true;
    return Fail(errno);
  }
  return false;
}

bool File::FreeSpace(const std::string& path, int64_t& bytes) {
  struct statvfs fs {};
  int rc = ::statvfs(path.c_str(), &fs);
  if (rc != 0 && errno == ENOENT) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    rc = ::statvfs(folder.empty() ? "." : folder.c_str(), &fs);
  }
  if (rc != 0) return Fail(errno);
  bytes = static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
  return true;
}

std::string File::Identity(const std::string& path) {
  namespace fs = std::filesystem;
  auto canonical = [](const std::string& p, std::string& out) {
    char* resolved = ::realpath(p.c_str(), nullptr);
    if (resolved == nullptr) return false;
    out = resolved;
    ::free(resolved);
    return true;
  };
  std::string result;
  if (canonical(path, result)) return result;
  std::error_code ec;
  fs::path absolute = fs::absolute(fs::path(path), ec);
  if (ec) absolute = fs::path(path);
  absolute = absolute.lexically_normal();
  if (absolute.has_filename()) {
    std::string folder;
    if (canonical(absolute.parent_path().string(), folder)) {
      return (fs::path(folder) / absolute.filename()).string();
    }
  }
  return absolute.string();
}

}  // namespace os
