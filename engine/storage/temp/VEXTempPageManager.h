// The page store of a temporary table (and of a disk table's per-session
// temporary indexes): 4096-byte pages without header, in RAM (a
// TVEXMemoryPageManager) up to a tenth of the free memory at creation, and
// beyond that in a temporary page file that is unlinked at once and vanishes
// with the store (docs/file-formats.md, "Temporary page file").
//
// Design notes
//   1. Page numbers below FMaxMemoryPageCount are RAM pages (every page with
//      temporary files disabled); the others are file pages, page p at
//      (p - FMaxMemoryPageCount) * 4096 in the file.
//   2. Bit p of FAllocatedPageMap is set exactly while page p is handed out;
//      FAllocatedPageCount is one more than the highest number ever handed
//      out; FPageCount counts the set bits.
//   3. RAM page numbers are reused (the RAM store hands out its lowest free
//      number); file page numbers are not.
//   4. The file exists from the first file page written or added on.
//
// Threads: no lock of its own; REQUIRES the owning database's lock, as every
// page manager.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/VEXStream.h"
#include "foundation/VEXTypes.h"
#include "storage/VEXPage.h"
#include "storage/memory/VEXMemPageManager.h"

namespace vex {

class TVEXTemporaryPageManager : public TVEXPageManager {
 public:
  static constexpr int32_t kPageSize = 4096;

  // The RAM limit is fixed here (note 1).
  explicit TVEXTemporaryPageManager(bool DisableTempFiles, TVEXLock* DatabaseLock = nullptr);
  ~TVEXTemporaryPageManager() override;

  int32_t MaxMemoryPageCount() const { return FMaxMemoryPageCount; }
  int32_t AllocatedPageCount() const { return FAllocatedPageCount; }
  bool HasPageFile() const { return FTempPageFile != nullptr; }
  bool IsMemoryPage(int32_t PageNo) const {
    return FDisableTempFiles || PageNo < FMaxMemoryPageCount;
  }

  // A RAM page from the RAM store, or the next file page number with a
  // buffer of its own (the file grows by half again when too short).
  void InternalAddPage(TVEXPage* aPage) override;
  // Nothing for a number that is not allocated.
  void InternalRemovePage(int32_t PageNo) override;
  // 10396 "Page allocation not released" for a number not allocated; 30482
  // "Invalid pointer" for a file page before any file exists; false when the
  // file read comes up short.
  bool InternalReadPage(TVEXPage* aPage) override;
  // 10397 for a number not allocated; 10125 "Error writing to stream" when
  // the file write comes up short.
  void InternalWritePage(TVEXPage* aPage) override;

 private:
  bool IsAllocated(int32_t PageNo) const;
  void Allocate(int32_t PageNo);
  TVEXFileStream& PageFile();
  int64_t FileOffset(int32_t PageNo) const {
    return (int64_t{PageNo} - FMaxMemoryPageCount) * kPageSize;
  }

  TVEXBitsArray FAllocatedPageMap;
  int32_t FAllocatedPageCount = 0;
  std::unique_ptr<TVEXFileStream> FTempPageFile;
  int32_t FMaxMemoryPageCount;
  std::unique_ptr<TVEXMemoryPageManager> FMemoryPageManager;
  bool FDisableTempFiles;
};

}  // namespace vex
