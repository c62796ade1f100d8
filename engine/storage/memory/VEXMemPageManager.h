// The page store of an in-memory table: 4096-byte pages without a page header,
// each a zero-filled block of the engine's memory manager, numbered from 0.
//
// Nothing is ever written anywhere: a page object borrows its number's block
// (OwnBuffer false), so reading a page copies nothing and a change lands in
// the block at once. The shared cache and the change sets of the base still
// decide which pages a session sees; committing a page has nothing left to
// copy. The temporary page manager keeps its RAM pages in one of these.
//
// Design notes
//   1. Bit p of FAllocatedPageMap is set exactly while page p is handed out;
//      FPageCount counts the set bits.
//   2. FDataPtrs only grows; a block lives from the growth that made it to the
//      destructor, so a page removed and added again gets its old block back
//      (cleared), and a page object never outlives the block it borrows.
//   3. A new page takes the lowest free number, else LastAllocatedPageNo + 1.
//   4. Every block is exactly PageSize bytes.
//
// Threads: no lock of its own; REQUIRES the owning database's lock (the base's
// DatabaseLock) for every call, as every page manager.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/VEXGuards.h"
#include "foundation/VEXTypes.h"
#include "storage/VEXPage.h"

namespace vex {

class TVEXMemoryPageManager : public TVEXPageManager {
 public:
  static constexpr int32_t kPageSize = 4096;
  static constexpr int32_t kAllocateBy = 50;

  // No page, no block. DatabaseLock as for the base.
  explicit TVEXMemoryPageManager(TVEXLock* DatabaseLock = nullptr);
  ~TVEXMemoryPageManager() override;

  int32_t AllocatedPageCount() const { return FAllocatedPageCount; }
  int32_t LastAllocatedPageNo() const { return FLastAllocatedPageNo; }
  bool IsPageAllocated(int32_t PageNo) const;
  // The block of a page number; nullptr beyond the block list.
  uint8_t* PageBlock(int32_t PageNo) const;

  // Stream form (docs/file-formats.md, "Memory page store"). Short transfers
  // raise 10362-10368 (save) and 10369-10375 (load); a stream whose counts
  // contradict each other raises 10375 before anything is replaced.
  void SaveToStream(rtl::TStream& Stream) override;
  void LoadFromStream(rtl::TStream& Stream) override;

  // Gives aPage the lowest free number (note 3) and points it at the number's
  // block. 20037 "Page allocation not released" when the chosen number is
  // already allocated.
  void InternalAddPage(TVEXPage* aPage) override;
  // Frees the number; the block stays for reuse. Nothing for a number that is
  // not allocated.
  void InternalRemovePage(int32_t PageNo) override;
  // Points aPage at its block (freeing a buffer it owned). 10392 "Page
  // allocation not released" for a number that is not allocated.
  bool InternalReadPage(TVEXPage* aPage) override;
  // Copies a page with a buffer of its own into the block; a page pointing at
  // its block needs nothing. 10393 for a number that is not allocated.
  void InternalWritePage(TVEXPage* aPage) override;

  // The notes above; raises EPageManagerIntegrityError naming what is broken.
  void CheckIntegrity() const;

 private:
  // Blocks up to Count entries (note 2).
  void GrowBlocks(int32_t Count);

  TVEXBitsArray FAllocatedPageMap;
  int32_t FAllocatedPageCount = 0;
  int32_t FAllocateBy = kAllocateBy;
  int32_t FLastAllocatedPageNo = 0;
  std::vector<TVEXMemBlock> FDataPtrs;
};

}  // namespace vex
