// The free-space maps of a database file: which pages are in use.
//
// Two kinds of map pages live in the file itself. A PFS page (page free space)
// has one bit per page: 1 used, 0 free. An EAM page (extent allocation map) has
// two bits per extent of PageCountInExtent pages: 3 every page used, 1 some
// page free, 0 not described yet. PFS page k is page k x PPP; EAM page k is
// page k x PPE, or the page after it when that is a PFS page. The maps are read
// and written straight in the file, outside the cache and any change set, and
// always under the file's header lock, so every connection sees an allocation
// the moment it is made. The file grows by a tenth (at least one extent) when
// no page is free, and is cut back by whole steps when its tail is unused.
//
// Invariants (whenever the header lock is free):
//   1. Every page below TotalPageCount is a system page (a PFS or EAM page,
//      never handed out) or has its PFS bit set exactly when it is in use;
//      bits at or beyond TotalPageCount are 0.
//   2. Every PFS and EAM page that covers a page below TotalPageCount exists
//      in the file with its page type. In particular the file never ends
//      between a PFS page and the EAM page that follows it.
//   3. LastUsedPageNo is the highest used page that is not a system page, -1
//      when none. A release leaves fewer unused pages at the end than the
//      step it cut by (one more when the cut would end on a PFS page whose
//      EAM page follows it).
//   4. An EAM entry of 3 means every page of its extent is used.
//
// All map arithmetic is done in 64 bits, so that large page sizes and extents
// cannot overflow.
//
// Threads: every operation that touches the file REQUIRES the owning
// database's lock (VEX_REQUIRES); the header lock serialises connections.
#pragma once

#include <cstdint>
#include <memory>

#include "storage/disk/VEXDiskPageManager.h"

namespace vex {

class TVEXDatabaseFreeSpaceManager {
 public:
  // Takes the geometry and header counters from the open page manager.
  explicit TVEXDatabaseFreeSpaceManager(TVEXDiskPageManager* aPageManager);

  // A page now marked used (20231 when the header lock stays refused);
  // DesiredStartPageNo plays no part.
  int32_t GetPage(int32_t DesiredStartPageNo) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Marks a page free (30427 when it is already free) and shrinks the file
  // when its unused tail has reached a step (20232 when the header lock stays
  // refused).
  void FreePage(int32_t PageNo) VEX_REQUIRES(LPageManager->DatabaseLock());
  // Whether the page's PFS bit is set; false without reading when its PFS page
  // lies beyond LastUsedPageNo.
  bool GetPageUsageFromPFS(int32_t PageNo) VEX_REQUIRES(LPageManager->DatabaseLock());
  // 30434 for a PFS or EAM page.
  void CheckPageNoForSystemPages(int32_t PageNo) const;
  bool IsSystemPage(int64_t PageNo) const;

  int32_t AddPagesStep() const;
  int32_t DelPagesStep() const { return AddPagesStep(); }
  bool SuppressDBHeaderErrors() const { return FSuppressDBHeaderErrors; }
  void SetSuppressDBHeaderErrors(bool Value) { FSuppressDBHeaderErrors = Value; }

  int64_t PFSPagesAddressed() const { return FPFSPage_PagesAddressed; }
  int64_t EAMPagesAddressed() const { return FEAMPage_PagesAddressed; }
  int64_t EAMExtentsAddressed() const { return FEAMPage_ExtentsAddressed; }
  // Where map page k lies.
  int64_t PFSPageNo(int64_t Index) const { return Index * FPFSPage_PagesAddressed; }
  int64_t EAMPageNo(int64_t Index) const;

 private:
  // A map page in a temporary page object, read straight from the file.
  std::unique_ptr<TVEXPage> ReadMapPage(int64_t PageNo, uint16_t PageType, int32_t NativeErrorCode)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  void WriteMapPage(TVEXPage& Page) VEX_REQUIRES(LPageManager->DatabaseLock());
  void NewMapPage(int64_t PageNo, uint16_t PageType) VEX_REQUIRES(LPageManager->DatabaseLock());

  void ReloadHeaderCounters() VEX_REQUIRES(LPageManager->DatabaseLock());
  void StoreHeaderCounters() VEX_REQUIRES(LPageManager->DatabaseLock());
  void StoreHeaderCountersAfterFailure() noexcept VEX_REQUIRES(LPageManager->DatabaseLock());

  int32_t FindFreePage() VEX_REQUIRES(LPageManager->DatabaseLock());
  int32_t SearchEAMPage(int64_t Index) VEX_REQUIRES(LPageManager->DatabaseLock());
  int32_t GrowFile() VEX_REQUIRES(LPageManager->DatabaseLock());
  int32_t FindLastUsedPage() VEX_REQUIRES(LPageManager->DatabaseLock());
  void ShrinkFile() VEX_REQUIRES(LPageManager->DatabaseLock());

  void SetPageUsage(int32_t PageNo, bool Used) VEX_REQUIRES(LPageManager->DatabaseLock());
  void SetPFSBit(int32_t PageNo, bool Used) VEX_REQUIRES(LPageManager->DatabaseLock());
  void UpdateEAMEntry(int32_t PageNo) VEX_REQUIRES(LPageManager->DatabaseLock());

  TVEXDiskPageManager* LPageManager;
  int64_t FPageCountInExtent;
  int64_t FPFSPage_PagesAddressed;
  int64_t FEAMPage_ExtentsAddressed;
  int64_t FEAMPage_PagesAddressed;
  int32_t FLastUsedPageNo;
  int32_t FTotalPageCount;
  // The counters as read from the file by the last ReloadHeaderCounters.
  int32_t FLoadedLastUsedPageNo = -1;
  int32_t FLoadedTotalPageCount = 0;
  bool FSuppressDBHeaderErrors = false;
};

}  // namespace vex
