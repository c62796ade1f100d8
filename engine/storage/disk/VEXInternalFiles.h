// Internal files: byte sequences kept inside the database file as chains of
// pages linked by the page header's NextPageNo.
//
// The disk engine keeps its system data in them. A transacted file
// (TVEXInternalDBTransactedAccessFile) goes through the page cache within a
// session's change set: its changes reach other connections at commit and
// vanish at rollback, its pages are encrypted like any other, and its whole
// content may be stored compressed. A direct file (TVEXInternalDBDirectAccessFile)
// has a fixed size, is never encrypted and is read and written straight in the
// file, a byte range at a time; its bytes serve mostly as lock targets between
// connections.
//
// Both begin with a 10-byte file header at the start of the first page's data
// (docs/file-formats.md, "Internal files"); content byte n lies in chain page
// (n + 10) div D at data offset (n + 10) mod D, D being the page data size.
//
// Invariants:
//   1. A closed file has StartPageNo -1; every operation but create, open and
//      delete refuses it (30389 transacted, 20156 direct).
//   2. Every page of a chain has the file's page type; a chain is walked at
//      most as many steps as the file has pages, so a damaged chain (cut short,
//      or looping back) raises 20300 and never hangs.
//   3. A transacted file's chain is never shorter than its stored size needs;
//      pages that a shrink leaves behind stay in the chain and are used again
//      when the file grows.
//   4. A direct file's page list (FFilePages) is its chain in order, so
//      locating a byte needs no walk; its usable size lies inside that list.
//   5. Every page taken during an operation is released on every way out.
//
// Threads: every operation REQUIRES the owning database's lock
// (VEX_REQUIRES). Between connections,
// transacted files rely on the page cache's change detection and the commit's
// header lock; direct files rely on byte locks their owners take.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/VEXCompression.h"
#include "storage/disk/VEXDiskPageManager.h"

namespace vex {

// The header at the start of an internal file's first page data.
#pragma pack(push, 1)
struct TVEXInternalFileHeader {
  uint8_t HeaderSize;
  // Content bytes in the chain.
  int32_t StoredSize;
  // The content's size after decompression (transacted files; 0 in direct).
  int32_t ContentSize;
  // TVEXCompressionAlgorithm of the stored content (0 in direct files).
  uint8_t CompressionAlgorithm;
};
static_assert(sizeof(TVEXInternalFileHeader) == 10);
#pragma pack(pop)

class TVEXInternalDBTransactedAccessFile {
 public:
  // A closed file whose pages have that type.
  TVEXInternalDBTransactedAccessFile(TVEXDiskPageManager* PageManager, uint16_t PageTypeID);

  // A new one-page file with an empty header in the session's change set;
  // 30383 when the file has a start page.
  void CreateFile(int32_t SessionID) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Makes StartPageNo the file's start; -1 leaves the start as it was.
  void OpenFile(int32_t StartPageNo) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Removes every page of the chain in the session (freed at its commit);
  // a StartPageNo other than -1 first becomes the start. The file is closed
  // afterwards.
  void DeleteFile(int32_t SessionID, int32_t StartPageNo = -1)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // Resets the first page of a damaged file to a default page header and an
  // empty file header, accepting a wrong CRC or type; the page is not marked
  // changed. 20301 without a start page.
  void InitFileHeader(int32_t SessionID) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Sizes the chain for NewSize stored bytes and sets the header.
  void SetFileSize(int32_t SessionID, int32_t NewSize, int32_t DecompressedSize,
                   TVEXCompressionAlgorithm CompressionAlgorithm)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // The header; FileWasChanged when the first page was read from the file for
  // this call (another connection changed it, or it was not cached).
  void GetFileSize(int32_t SessionID, int32_t& Size, int32_t& DecompressedSize,
                   TVEXCompressionAlgorithm& CompressionAlgorithm, bool& FileWasChanged,
                   bool SyncronizeAllowed) VEX_REQUIRES(LPageManager->DatabaseLock());
  // The content size.
  int32_t GetSize(int32_t SessionID) VEX_REQUIRES(LPageManager->DatabaseLock());
  // The first Count bytes of the content. 30387 when the content is shorter,
  // 30388 when the chain ends before the stored bytes, 20189 when they do not
  // decompress.
  void ReadFile(int32_t SessionID, void* Buffer, int32_t Count, bool SynchronizeAllowed)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // Replaces the content with Count bytes, compressed by Algorithm at
  // CompressionMode (0-9); 20187 when compression fails.
  void WriteFile(int32_t SessionID, const void* Buffer, int32_t Count,
                 TVEXCompressionAlgorithm Algorithm, uint8_t CompressionMode)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // The file's lock byte: byte 0 of the first page.
  bool LockFile() VEX_REQUIRES(LPageManager->DatabaseLock());
  bool UnlockFile() VEX_REQUIRES(LPageManager->DatabaseLock());

  TVEXDiskPageManager* PageManager() const { return LPageManager; }
  int32_t StartPageNo() const { return FStartPageNo; }

 private:
  void CheckOpened(const char* Operation) const;
  // The page number of chain page Index (0 the first).
  int32_t ChainPageNo(int32_t SessionID, int64_t Index, bool SynchronizeAllowed)
      VEX_REQUIRES(LPageManager->DatabaseLock());

  TVEXDiskPageManager* LPageManager;
  int32_t FStartPageNo = -1;
  uint16_t FPageTypeID;
};

class TVEXInternalDBDirectAccessFile {
 public:
  TVEXInternalDBDirectAccessFile(TVEXDiskPageManager* PageManager, uint16_t PageTypeID);

  // A new file of Size zero bytes, created in the system session (-2): its
  // pages reach the file when that session commits. 20157 when the file has a
  // start page.
  void CreateFile(int32_t Size) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Opens the file at StartPageNo (-1 keeps the start) and lists its pages,
  // never reading byte 0 of the first page (another connection may hold it).
  // A one-page file is usable up to the end of its page.
  void OpenFile(int32_t StartPageNo) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Removes every page in the system session; the file is closed afterwards.
  void DeleteFile(int32_t StartPageNo = -1) VEX_REQUIRES(LPageManager->DatabaseLock());
  // The stored size, read from the file each time.
  int32_t GetSize() VEX_REQUIRES(LPageManager->DatabaseLock());
  // Count bytes at content Position. 20159 for a position past the usable
  // size; a read stops where the chain ends, a write below the stored size
  // (20158) that meets the chain's end raises 20300.
  void ReadBuffer(void* Buffer, int32_t Count, int32_t Position)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  void WriteBuffer(const void* Buffer, int32_t Count, int32_t Position)
      VEX_REQUIRES(LPageManager->DatabaseLock());

  bool LockFile() VEX_REQUIRES(LPageManager->DatabaseLock());
  bool UnlockFile() VEX_REQUIRES(LPageManager->DatabaseLock());
  // The file byte that holds content byte ByteNo.
  bool LockByte(int32_t ByteNo) VEX_REQUIRES(LPageManager->DatabaseLock());
  bool UnlockByte(int32_t ByteNo) VEX_REQUIRES(LPageManager->DatabaseLock());
  bool IsByteLocked(int32_t ByteNo) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Whether any of ByteCount content bytes from ByteNo is locked, by another
  // connection or by this one; false for ByteCount <= 0.
  bool IsRegionLocked(int32_t ByteNo, int32_t ByteCount) VEX_REQUIRES(LPageManager->DatabaseLock());

  TVEXDiskPageManager* PageManager() const { return LPageManager; }
  int32_t StartPageNo() const { return FStartPageNo; }
  // The usable size in memory.
  int32_t FileSize() const { return FFileSize; }
  const std::vector<int32_t>& FilePages() const { return FFilePages; }

 private:
  struct Location {
    int32_t PageIndex;
    uint16_t PageOffset;
  };
  void CheckOpened(const char* Operation) const;
  Location Locate(int64_t Position) const;
  // The page header read straight from the file, its type checked (20155).
  void ReadPageHeader(int32_t PageNo, void* Header, bool SkipLockByte)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  template <class Move>
  int64_t MoveBytes(int32_t Count, int32_t Position, Move move)
      VEX_REQUIRES(LPageManager->DatabaseLock());

  TVEXDiskPageManager* LPageManager;
  int32_t FStartPageNo = -1;
  uint16_t FPageTypeID;
  int32_t FFileSize = 0;
  std::vector<int32_t> FFilePages;
};

}  // namespace vex
