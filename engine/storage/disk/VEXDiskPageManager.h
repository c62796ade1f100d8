// The disk page manager: the database file's layout and the page I/O of a disk
// database.
//
// A database on disk is one file: a fixed prologue (file header, crypto header,
// lock bytes, object-id counter) followed by pages of one size, each a 40-byte
// page header and its data. docs/file-formats.md describes every byte; this
// file holds the one place that reads and writes each structure. The base
// class (storage/VEXPage.h) keeps the shared page cache and the sessions'
// change sets; this class supplies what lies under them: it creates and opens
// the file, checks signature, format and password, reads and writes pages with
// per-page encryption and CRC, hands out and takes back page numbers through
// the free-space maps (VEXFreeSpaceManager.h), commits a change set under the
// header lock with a crash marker in the header, issues object ids, and offers
// the byte locks through which connections to one file coordinate.
//
// Invariants:
//   1. While open, the file is at least OffsetToFirstPage + TotalPageCount x
//      PageSize bytes long; the file header's TotalPageCount and LastUsedPageNo
//      change only under the header lock, and the free-space maps agree with
//      them whenever that lock is free.
//   2. The file header's WriteChangesState is 2 only when every commit that
//      started on the file also ended: a commit writes 1 before its first page
//      and puts back 2 only after its last page, and only when it found 2 at
//      its start. A file that once showed 1 keeps 1 until it is rebuilt, so
//      every later open answers RepairNeeded.
//   3. Page images in memory are always plain. A page of an encrypted database
//      is encrypted only in a scratch copy on its way to the file, and only
//      when it is neither a PFS nor an EAM page nor a page of a direct internal
//      file; its CRC32 is the CRC of the plain data area.
//   4. A page's State word in the file changes with every write of the page
//      (0 .. 0x7FFFFFFC, wrapping to 0) and is 0x7FFFFFFF once it is freed, so a
//      connection holding an older image of it can tell.
//   5. Values read from the file are checked before they size or position
//      anything: a damaged header gives 20237 "Invalid database format", never
//      a division by zero, an overrun or an endless loop.
//   6. The header lock is held by at most one connection; inside this manager
//      it nests (FLockDBHeaderCount), so a commit that frees pages takes the
//      byte once.
//
// Commit of a change set (ApplyChanges), the file's crash marker:
//
//      clean file (marker 2)
//        |  ApplyChanges: LockDBHeader (RetryCall 4500 x 20 ms, else 20213)
//        v
//      locked ----ReadDBHeader--> header read, was-clean noted
//        |  WriteDBHeader: marker 1
//        v
//      writing (marker 1) --TVEXPageManager::ApplyChanges-->
//        |      InternalRemovePage (State 0x7FFFFFFF, FreePage in the maps)
//        |      InternalWritePage for every dirty page
//        |  [DoFlushBuffers: FlushFileBuffers]
//        v
//      written --WriteDBHeader: State + 1, marker 2 (1 when it was not clean)-->
//        |  [DoFlushBuffers: FlushFileBuffers]
//        v
//      UnlockDBHeader --> clean file (or still marked, see invariant 2)
//
//   A failure anywhere after the marker was written leaves marker 1 in the
//   file (the header lock is released on every way out): the next
//   OpenDatabase answers RepairNeeded.
//
// Threads: no lock of its own. Every operation that reads or writes the file
// or the pages REQUIRES the owning database's lock (DatabaseLock(), stated
// with VEX_REQUIRES); between connections only the byte locks below
// coordinate.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/VEXPage.h"
#include "storage/disk/VEXDatabaseFile.h"
#include "storage/disk/VEXTablePagesCache.h"

namespace vex {

class TCipher;
class TVEXDatabaseFreeSpaceManager;

// The cipher and hash pair of an encrypted database; stored as one byte.
enum TVEXCryptoAlgorithm : uint8_t {
  craRijndael_128 = 0,
  craRijndael_256 = 1,
  craDES_Single = 2,
  craDES_Triple = 3,
  craBlowfish = 4,
  craTwofish_128 = 5,
  craTwofish_256 = 6,
  craSquare = 7
};
inline constexpr int kCryptoAlgorithmCount = 8;

// A database password (Windows-1252 bytes) and the pair it encrypts with.
struct TVEXPassword {
  std::string Password;
  TVEXCryptoAlgorithm CryptoAlgorithm = craRijndael_128;
};

// Page types, the uint16 at offset 8 of every page header.
enum TVEXPageType : uint16_t {
  ptUnknown = 0,
  ptEmpty = 1,
  ptEAM = 2,
  ptPFS = 3,
  ptFileSystemDirectory = 4,
  ptActiveSessionList = 5,
  ptTableList = 6,
  ptTableLocks = 7,
  ptTableMetaData = 8,
  ptTableMostUpdated = 9,
  ptTableRecord = 10,
  ptTableBlob = 11,
  ptTableIndex = 12
};

#pragma pack(push, 1)
// The file header at the header offset O.
struct TVEXDBHeader {
  char Signature[16];
  int16_t HeaderSize;
  double Version;
  uint16_t PageSize;
  uint16_t PageCountInExtent;
  int32_t TotalPageCount;
  int32_t LastUsedPageNo;
  // Commit counter, compared only for equality.
  int32_t State;
  // The crash marker: 1 while a change set is written, 2 when clean.
  uint8_t WriteChangesState;
  // 0xFF encrypted, 0 not; any non-zero value reads as encrypted.
  uint8_t Encrypted;
  uint8_t Reserved[32];
};
static_assert(sizeof(TVEXDBHeader) == 76);

// The password check, right after the file header.
struct TVEXCryptoHeader {
  int16_t CryptoHeaderSize;
  uint8_t CryptoAlgorithm;
  uint8_t CryptoMode;
  uint8_t ControlBlock[256];
  uint32_t ControlBlockCRC;
  uint8_t Reserverd[16];
};
static_assert(sizeof(TVEXCryptoHeader) == 280);

// Bytes whose position is a lock target; only LockedByteSize is ever read.
struct TVEXLockedBytes {
  int16_t LockedByteSize;
  uint8_t FSMByte;
  uint8_t TablesByte;
  uint8_t DBHeaderByte;
  uint8_t Reserved[15];
};
static_assert(sizeof(TVEXLockedBytes) == 20);
#pragma pack(pop)

inline constexpr char kDBSignature[] = "VEX0LITEDATABASE";
inline constexpr double kDBVersion = 7.5;
// A file below this version has the old format and must be rebuilt.
inline constexpr double kDBOldFormatVersion = 2.99;
inline constexpr uint8_t kWriteChangesInProgress = 1;
inline constexpr uint8_t kWriteChangesDone = 2;
// Page sizes this engine reads and creates: room for the page header, the
// internal file header and a useful body.
inline constexpr int32_t kMinPageSize = 512;
inline constexpr int32_t kMaxPageSize = 65535;
inline constexpr int32_t kDiskPageHeaderSize = 40;
// Waits for the header and object-id bytes (tries, ms apart).
inline constexpr int32_t kDBHeaderLockTries = 4500;
inline constexpr int32_t kDBHeaderLockDelayMS = 20;

// The name of a page type for messages; 30382 above 12.
std::string GetPageTypeName(uint16_t PageType);
// Raises NativeErrorCode "Wrong page type. Found '%s', but expecting: '%s'"
// when the types differ.
void CheckPageType(uint16_t Found, uint16_t Expected, int32_t NativeErrorCode);
// Encrypt or decrypt Size bytes in place with a fresh cipher of the pair keyed
// from the password. False, without raising, when the cipher library raises or
// the algorithm is unknown. The page manager keeps its ciphers instead (see
// TVEXPageCipher); these serve single buffers.
bool EncryptPageBuffer(TVEXCryptoAlgorithm CryptoAlgorithm, uint8_t* Buffer, int32_t Size,
                       const std::string& Password);
bool DecryptPageBuffer(TVEXCryptoAlgorithm CryptoAlgorithm, uint8_t* Buffer, int32_t Size,
                       const std::string& Password);

// The ciphers of one password, keyed once per pair and restarted for every
// buffer, so each buffer is coded exactly as a fresh cipher would code it.
class TVEXPageCipher {
 public:
  TVEXPageCipher();
  ~TVEXPageCipher();
  TVEXPageCipher(const TVEXPageCipher&) = delete;
  TVEXPageCipher& operator=(const TVEXPageCipher&) = delete;

  // Forgets the keys of an earlier password.
  void SetPassword(const std::string& Password);
  // As EncryptPageBuffer / DecryptPageBuffer.
  bool Encrypt(uint8_t Algorithm, uint8_t* Buffer, int32_t Size);
  bool Decrypt(uint8_t Algorithm, uint8_t* Buffer, int32_t Size);

 private:
  TCipher* CipherFor(uint8_t Algorithm);
  bool Code(uint8_t Algorithm, uint8_t* Buffer, int32_t Size, bool Encode);

  std::string FPassword;
  std::array<std::shared_ptr<TCipher>, kCryptoAlgorithmCount> FCiphers;
};

class TVEXDiskPageManager : public TVEXPageManager {
 public:
  // Closed; the in-memory records hold the defaults of a new file.
  // DatabaseLock: the owning database's lock (see TVEXPageManager).
  explicit TVEXDiskPageManager(TVEXLock* DatabaseLock = nullptr);
  // Closes the database; never raises.
  ~TVEXDiskPageManager() override;

  // Creates the file (replacing one of that name) with its 380-byte prologue
  // and leaves it open for exclusive read-write use. Raises 10461 when open,
  // 20237 for a page size outside kMinPageSize .. kMaxPageSize, fewer than one
  // page per extent or an unknown algorithm, and the file layer's errors.
  void CreateAndOpenDatabase(const std::string& DatabaseFileName, const TVEXPassword& Password,
                             uint16_t PageSize, uint16_t ExtentPageCount)
      VEX_REQUIRES(DatabaseLock());
  // Opens an existing file. ReadOnly and aMultiUser come in as wishes and go
  // out as the modes used; RepairNeeded goes out true for a file not closed
  // cleanly (marker not 2) or of the old format. Raises 10462 when open, 20230
  // when the header lock stays refused, 10470 for a wrong signature, 20237 for
  // a damaged prologue, 30445 for a wrong password. On failure the file is
  // closed again.
  void OpenDatabase(const std::string& DatabaseFileName, const TVEXPassword& Password,
                    bool& ReadOnly, bool& RepairNeeded, bool Exclusive, bool& aMultiUser)
      VEX_REQUIRES(DatabaseLock());
  // Closes the file when open; a failing close only marks it closed. Cached
  // and uncommitted pages are dropped.
  void CloseDatabase() noexcept VEX_REQUIRES(DatabaseLock());
  // Cuts the unused pages off the end, under the header lock (20213).
  void TruncateDatabase() VEX_REQUIRES(DatabaseLock());
  // Grows the file by PageCount pages (nothing below 1); the caller writes
  // the header.
  void ExtendFile(int32_t PageCount) VEX_REQUIRES(DatabaseLock());
  // Shrinks the file by PageCount pages (1 .. TotalPageCount) and writes the
  // header.
  void TruncateFile(int32_t PageCount) VEX_REQUIRES(DatabaseLock());

  // Whether the file is open for writing.
  bool IsFileWritable() const { return FWritable; }

  // --- page manager slots
  // The file's page count as the header on disk gives it. A connection that
  // holds the file exclusively for writing is the only one that changes the
  // header, so it answers from its own copy without taking the header lock.
  // Raises 20236 when the header lock is refused.
  int32_t PageCount() VEX_REQUIRES(DatabaseLock()) override;
  // GetPage for a page that may have left the file: nullptr, without raising,
  // for a number below 1 or at or beyond the header's page count. The count
  // this connection read last answers first; the header is read again only
  // for a number at or beyond it, or when the page could not be read (another
  // connection may have cut the file since), so a walk over cached or present
  // pages costs no header lock. Raises as GetPage and PageCount otherwise.
  TVEXPage* GetPageIfInFile(int32_t SessionID, int32_t PageNo, uint16_t PageType,
                            bool SynchronizeAllowed) VEX_REQUIRES(DatabaseLock());
  bool IsPageTableStateCurrent(int32_t SessionID, TVEXPage* Page) override;
  void UpdatePageTableState(int32_t SessionID, TVEXPage* Page) override;
  void InternalAddPage(TVEXPage* aPage) VEX_REQUIRES(DatabaseLock()) override;
  void InternalRemovePage(int32_t PageNo) VEX_REQUIRES(DatabaseLock()) override;
  bool InternalReadPage(TVEXPage* aPage) override;
  void InternalWritePage(TVEXPage* aPage) override;
  bool IsPageStateCheckNeeded() const override { return FMultiUser; }
  int32_t InternalReadPageState(int32_t PageNo) override;
  // Refuse a PFS or EAM page (30434), then the base work.
  void RemovePage(int32_t SessionID, int32_t PageNo) VEX_REQUIRES(DatabaseLock()) override;
  TVEXPage* GetPage(int32_t SessionID, int32_t PageNo, uint16_t PageType, bool SynchronizeAllowed)
      VEX_REQUIRES(DatabaseLock()) override;
  // The commit of the diagram at the top of this file.
  void ApplyChanges(int32_t SessionID) VEX_REQUIRES(DatabaseLock()) override {
    ApplyChanges(SessionID, false);
  }
  // DoFlushBuffers also forces the pages to the device before the marker is
  // cleared, and the header after.
  void ApplyChanges(int32_t SessionID, bool DoFlushBuffers) VEX_REQUIRES(DatabaseLock());

  // Writes only a page's State word (20198).
  void InternalWritePageState(int32_t PageNo, int32_t PageState) VEX_REQUIRES(DatabaseLock());
  // Count bytes at Offset inside a page, straight between memory and file: no
  // cache, no encryption, no CRC. 10476 / 10477 when Offset + Count passes
  // the page; 10474 / 10475 for the file errors.
  void ReadPageRegion(void* Buffer, int32_t PageNo, uint16_t Offset, uint16_t Count)
      VEX_REQUIRES(DatabaseLock());
  void WritePageRegion(const void* Buffer, int32_t PageNo, uint16_t Offset, uint16_t Count)
      VEX_REQUIRES(DatabaseLock());
  // Writes a zeroed page with signature "VEX1", type 1, outside any change set.
  void WriteEmptyPage(int32_t PageNo) VEX_REQUIRES(DatabaseLock());
  // The file offset of a page; 10471 for a negative number.
  int64_t GetPagePosition(int32_t PageNo) const;

  // --- headers. Raise the closed-file codes of docs/file-formats.md.
  // Reads the file header; the in-memory copy changes only when the read
  // succeeded.
  void ReadDBHeader() VEX_REQUIRES(DatabaseLock());
  void WriteDBHeader(bool CheckExternalChange) VEX_REQUIRES(DatabaseLock());

  // --- object ids (4500 x 20 ms whatever the arguments say)
  int32_t GetNextObjectID(int32_t TryCount, int32_t DelayMS) VEX_REQUIRES(DatabaseLock());
  void InitObjectID(int32_t TryCount, int32_t DelayMS) VEX_REQUIRES(DatabaseLock());

  // --- byte locks; none waits
  bool LockFreeSpaceManager() VEX_REQUIRES(DatabaseLock());
  bool UnlockFreeSpaceManager() VEX_REQUIRES(DatabaseLock());
  bool LockTables() VEX_REQUIRES(DatabaseLock());
  bool UnlockTables() VEX_REQUIRES(DatabaseLock());
  bool LockDBHeader() VEX_REQUIRES(DatabaseLock());
  bool UnlockDBHeader() VEX_REQUIRES(DatabaseLock());
  bool LockLastObjectID() VEX_REQUIRES(DatabaseLock());
  bool UnlockLastObjectID() VEX_REQUIRES(DatabaseLock());
  bool LockPageByte(int32_t PageNo, uint16_t Offset) VEX_REQUIRES(DatabaseLock());
  bool UnlockPageByte(int32_t PageNo, uint16_t Offset) VEX_REQUIRES(DatabaseLock());
  bool IsPageByteLocked(int32_t PageNo, uint16_t Offset) VEX_REQUIRES(DatabaseLock());
  bool IsPageRegionLocked(int32_t PageNo, uint16_t Offset, uint16_t Count)
      VEX_REQUIRES(DatabaseLock());

  // The most pages a chain of this file can have: the larger of the header's
  // count and the pages the file's size holds. Chain walks stop there.
  int64_t PageCountBound() VEX_REQUIRES(DatabaseLock());
  // Whether Count is more than PageCountBound(). Asks the file for its size
  // only when the pages already known to exist do not cover Count: the hot
  // paths check every chain walk, and a stat costs more than the walk. The
  // pages known may outlast a cut of the file by another connection; the
  // walk then ends at the unreadable page instead, as the bound only has to
  // end walks, not find damage.
  bool ExceedsPageCountBound(int64_t Count) VEX_REQUIRES(DatabaseLock());

  // Whether a page is a PFS or EAM page (false while closed).
  bool IsSystemPage(int32_t PageNo) const;

  TVEXDatabaseFile& DatabaseFile() { return *FDatabaseFile; }
  TVEXDBHeader* DBHeader() { return &FDBHeader; }
  const TVEXLockedBytes& LockedBytes() const { return FLockedBytes; }
  TVEXPassword* Password() { return &FPassword; }
  bool IsOpened() const { return FDatabaseFile->IsOpened(); }
  int64_t OffsetToDBHeader() const { return FOffsetToDBHeader; }
  int64_t OffsetToFirstPage() const { return FOffsetToFirstPage; }
  int64_t OffsetToLockedBytes() const { return FOffsetToLockedBytes; }
  TVEXDatabaseFreeSpaceManager* FreeSpaceManager() const { return FDatabaseFreeSpaceManager.get(); }
  TVEXDiskTablePagesCacheManager& TablePagesCacheManager() { return *FTablePagesCacheManager; }
  bool Exclusive() const { return FExclusive; }
  bool Encrypted() const { return FDBHeader.Encrypted != 0; }

 private:
  void InitDBHeader();
  void SetGeometry(uint16_t PageSize);
  void SetPrologueOffsets(int64_t HeaderOffset, int64_t LockedByteSize);
  void CheckOpenedFor(int32_t NativeErrorCode) const;
  void CheckHeaderFormat(const TVEXDBHeader& Header) const;
  void WriteCryptoHeader() VEX_REQUIRES(DatabaseLock());
  void ReadCryptoHeader() VEX_REQUIRES(DatabaseLock());
  void WriteLockedBytes() VEX_REQUIRES(DatabaseLock());
  void ReadLockedByteSize() VEX_REQUIRES(DatabaseLock());
  void CreateFreeSpaceManager();
  // The free-space manager of the open file; 10459 while closed.
  TVEXDatabaseFreeSpaceManager& OpenFreeSpaceManager() const;
  // Takes the header lock with the standard waits or raises NativeErrorCode.
  void LockDBHeaderOrRaise(int32_t NativeErrorCode) VEX_REQUIRES(DatabaseLock());
  bool PageIsEncrypted(const TVEXPage* aPage) const;
  void CheckRegion(uint16_t Offset, uint16_t Count, int32_t NativeErrorCode) const;

  std::unique_ptr<TVEXDatabaseFreeSpaceManager> FDatabaseFreeSpaceManager;
  std::unique_ptr<TVEXDatabaseFile> FDatabaseFile;
  TVEXDBHeader FDBHeader{};
  // The most pages the file's size was last seen to hold (PageCountBound).
  int64_t FPagesInFileSeen = 0;
  TVEXCryptoHeader FCryptoHeader{};
  TVEXPassword FPassword;
  TVEXLockedBytes FLockedBytes{};
  int32_t FLockDBHeaderCount = 0;
  bool FExclusive = false;
  bool FWritable = false;
  std::unique_ptr<TVEXDiskTablePagesCacheManager> FTablePagesCacheManager;
  int64_t FOffsetToDBHeader = 0;
  int64_t FOffsetToCryptoHeader = 76;
  int64_t FOffsetToLockedBytes = 356;
  int64_t FOffsetToLastObjectID = 376;
  int64_t FOffsetToFirstPage = 380;
  TVEXPageCipher FCipher;
  // The encrypted copy of a page on its way to the file.
  std::vector<uint8_t> FScratch;
  // The highest object id this connection handed out while read-only.
  int64_t FLastReadOnlyObjectID = INT64_MIN;
};

}  // namespace vex
