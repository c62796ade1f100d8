// The free-space maps. See VEXFreeSpaceManager.h for the invariants and
// docs/file-formats.md for the bytes of PFS and EAM pages.
#include "storage/disk/VEXFreeSpaceManager.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "storage/VEXPage.h"
#include "storage/disk/VEXDatabaseFile.h"
#include "storage/disk/VEXDiskPageManager.h"

namespace vex {

namespace {

constexpr const char* kNotAddressed = "Page: %d cannot be addressed. TotalPageCount=%d";
constexpr int32_t kFirstStep = 6;

// Releases the header lock on every way out.
class HeaderLockHold {
 public:
  HeaderLockHold(TVEXDiskPageManager* pageManager, int32_t nativeErrorCode)
      VEX_REQUIRES(pageManager->DatabaseLock())
      : FPageManager(pageManager) {
    if (!RetryCall(kDBHeaderLockTries, kDBHeaderLockDelayMS,
                   [this]()
                       VEX_NO_THREAD_SAFETY_ANALYSIS { return FPageManager->LockDBHeader(); })) {
      throw EVEXException(nativeErrorCode, "Database is locked");
    }
  }
  ~HeaderLockHold() VEX_NO_THREAD_SAFETY_ANALYSIS { FPageManager->UnlockDBHeader(); }
  HeaderLockHold(const HeaderLockHold&) = delete;
  HeaderLockHold& operator=(const HeaderLockHold&) = delete;

 private:
  TVEXDiskPageManager* FPageManager;
};

}  // namespace

TVEXDatabaseFreeSpaceManager::TVEXDatabaseFreeSpaceManager(TVEXDiskPageManager* aPageManager)
    : LPageManager(aPageManager) {
  const TVEXDBHeader* header = aPageManager->DBHeader();
  // The page manager refuses a header with no pages per extent; a zero here
  // would only divide by zero.
  FPageCountInExtent = std::max<int64_t>(header->PageCountInExtent, 1);
  const int64_t dataSize = std::max<int64_t>(aPageManager->PageDataSize(), 1);
  FPFSPage_PagesAddressed = dataSize * 8;
  FEAMPage_ExtentsAddressed = dataSize * 4;
  FEAMPage_PagesAddressed = FEAMPage_ExtentsAddressed * FPageCountInExtent;
  FLastUsedPageNo = header->LastUsedPageNo;
  FTotalPageCount = header->TotalPageCount;
}

int32_t TVEXDatabaseFreeSpaceManager::AddPagesStep() const {
  if (FTotalPageCount == 0) return kFirstStep;
  return static_cast<int32_t>(std::max<int64_t>(FTotalPageCount / 10, FPageCountInExtent));
}

int64_t TVEXDatabaseFreeSpaceManager::EAMPageNo(int64_t Index) const {
  const int64_t pageNo = Index * FEAMPage_PagesAddressed;
  return pageNo % FPFSPage_PagesAddressed == 0 ? pageNo + 1 : pageNo;
}

bool TVEXDatabaseFreeSpaceManager::IsSystemPage(int64_t PageNo) const {
  if (PageNo < 0) return false;
  if (PageNo % FPFSPage_PagesAddressed == 0 || PageNo % FEAMPage_PagesAddressed == 0) return true;
  return PageNo >= 1 && (PageNo - 1) % FPFSPage_PagesAddressed == 0 &&
         (PageNo - 1) % FEAMPage_PagesAddressed == 0;
}

void TVEXDatabaseFreeSpaceManager::CheckPageNoForSystemPages(int32_t PageNo) const {
  if (IsSystemPage(PageNo)) {
    throw EVEXException(30434, "Cannot delete PFS or EAM page. PageNo=%d", PageNo);
  }
}

// ---------------------------------------------------------------------------
// Map pages

std::unique_ptr<TVEXPage> TVEXDatabaseFreeSpaceManager::ReadMapPage(int64_t PageNo,
                                                                    uint16_t PageType,
                                                                    int32_t NativeErrorCode) {
  auto page = std::make_unique<TVEXPage>(LPageManager);
  page->SetPageNo(static_cast<int32_t>(PageNo));
  page->SetSessionID(-2);
  if (!LPageManager->InternalReadPage(page.get())) {
    throw EVEXException(20299, "Error reading database file page. Page No: %d, type %d",
                        page->PageNo(), PageType);
  }
  CheckPageType(page->PageHeader()->PageType, PageType, NativeErrorCode);
  return page;
}

void TVEXDatabaseFreeSpaceManager::WriteMapPage(TVEXPage& Page) {
  LPageManager->InternalWritePage(&Page);
}

void TVEXDatabaseFreeSpaceManager::NewMapPage(int64_t PageNo, uint16_t PageType) {
  TVEXPage page(LPageManager);
  page.SetPageNo(static_cast<int32_t>(PageNo));
  page.SetSessionID(-2);
  page.AllocPageBuffer();
  page.PageHeader()->PageType = PageType;
  // The first PFS bit is the map page itself; the first EAM extent holds the
  // map pages and so has free pages.
  page.PageData()[0] = 1;
  WriteMapPage(page);
}

// ---------------------------------------------------------------------------
// Header counters

void TVEXDatabaseFreeSpaceManager::ReloadHeaderCounters() {
  LPageManager->ReadDBHeader();
  const TVEXDBHeader* header = LPageManager->DBHeader();
  // Another connection's header is as untrusted as the one checked at open.
  const int32_t total = header->TotalPageCount;
  const int32_t lastUsed = header->LastUsedPageNo;
  if (total < 0 || lastUsed < -1 || lastUsed >= total) {
    throw EVEXException(20237, "Invalid database format");
  }
  FLastUsedPageNo = FLoadedLastUsedPageNo = header->LastUsedPageNo;
  FTotalPageCount = FLoadedTotalPageCount = header->TotalPageCount;
}

void TVEXDatabaseFreeSpaceManager::StoreHeaderCounters() {
  TVEXDBHeader* header = LPageManager->DBHeader();
  header->LastUsedPageNo = FLastUsedPageNo;
  header->TotalPageCount = FTotalPageCount;
  if (FLastUsedPageNo == FLoadedLastUsedPageNo && FTotalPageCount == FLoadedTotalPageCount) return;
  LPageManager->WriteDBHeader(true);
  FLoadedLastUsedPageNo = FLastUsedPageNo;
  FLoadedTotalPageCount = FTotalPageCount;
}

void TVEXDatabaseFreeSpaceManager::StoreHeaderCountersAfterFailure() noexcept {
  // What was done stays done: the counters that changed are written even when
  // a later step failed. That failure is the one to report.
  try {
    StoreHeaderCounters();
  } catch (const std::exception&) {
  }
}

// ---------------------------------------------------------------------------
// Allocation

int32_t TVEXDatabaseFreeSpaceManager::GetPage(int32_t /*DesiredStartPageNo*/) {
  HeaderLockHold lock(LPageManager, 20231);
  ReloadHeaderCounters();
  ScopeFailure storeCounters(
      [this]() VEX_NO_THREAD_SAFETY_ANALYSIS { StoreHeaderCountersAfterFailure(); });
  int32_t pageNo = FindFreePage();
  if (pageNo < 0) pageNo = GrowFile();
  if (FLastUsedPageNo < pageNo) FLastUsedPageNo = pageNo;
  StoreHeaderCounters();
  return pageNo;
}

int32_t TVEXDatabaseFreeSpaceManager::FindFreePage() {
  if (FLastUsedPageNo == -1) return -1;
  const int64_t lastEAM = std::max<int64_t>(FTotalPageCount - 1, 0) / FEAMPage_PagesAddressed;
  // The free pages of a growing file lie in its last region.
  int32_t pageNo = SearchEAMPage(lastEAM);
  for (int64_t k = 0; pageNo < 0 && k < lastEAM; ++k) pageNo = SearchEAMPage(k);
  if (pageNo >= 0) SetPageUsage(pageNo, true);
  return pageNo;
}

int32_t TVEXDatabaseFreeSpaceManager::SearchEAMPage(int64_t Index) {
  const int64_t dataSize = LPageManager->PageDataSize();
  int64_t extent = -1;
  {
    const std::unique_ptr<TVEXPage> eam = ReadMapPage(EAMPageNo(Index), ptEAM, 30423);
    const uint8_t* data = eam->PageData();
    for (int64_t x = 0; x < dataSize && extent < 0; ++x) {
      if (data[x] == 0xFF) continue;
      for (int pair = 0; pair < 4; ++pair) {
        if (((data[x] >> (2 * pair)) & 2) == 0) {
          extent = Index * FEAMPage_ExtentsAddressed + 4 * x + pair;
          break;
        }
      }
    }
  }
  if (extent < 0) return -1;

  const int64_t firstPFS = extent * FPageCountInExtent / FPFSPage_PagesAddressed;
  int64_t lastPFS = ((extent + 1) * FPageCountInExtent - 1) / FPFSPage_PagesAddressed;
  if (PFSPageNo(firstPFS) >= FTotalPageCount) return -1;
  while (PFSPageNo(lastPFS) >= FTotalPageCount) --lastPFS;

  int64_t found = -1;
  for (int64_t k = firstPFS; k <= lastPFS; ++k) {
    const std::unique_ptr<TVEXPage> pfs = ReadMapPage(PFSPageNo(k), ptPFS, 30423);
    const uint8_t* data = pfs->PageData();
    for (int64_t byte = 0; byte < dataSize; ++byte) {
      if (data[byte] == 0xFF) continue;
      int bit = 0;
      while ((data[byte] >> bit) & 1) ++bit;
      found = k * FPFSPage_PagesAddressed + byte * 8 + bit;
      break;
    }
  }
  return found >= 0 && found < FTotalPageCount ? static_cast<int32_t>(found) : -1;
}

int32_t TVEXDatabaseFreeSpaceManager::GrowFile() {
  const bool empty = FLastUsedPageNo == -1;
  const int64_t oldLastPFS = empty ? -1 : (int64_t{FTotalPageCount} - 1) / FPFSPage_PagesAddressed;
  const int64_t oldLastEAM = empty ? -1 : (int64_t{FTotalPageCount} - 1) / FEAMPage_PagesAddressed;

  int64_t newPage = int64_t{FLastUsedPageNo} + 1;
  while (IsSystemPage(newPage)) ++newPage;
  int64_t step = AddPagesStep();
  if (newPage >= FTotalPageCount + step) step = newPage - FTotalPageCount + 1;
  // The file never ends on a map page, so the maps it needs are never cut off
  // from the pages they describe.
  while (IsSystemPage(FTotalPageCount + step - 1)) ++step;
  if (step > std::numeric_limits<int32_t>::max())
    throw EVEXException(20237, "Invalid database format");
  LPageManager->ExtendFile(static_cast<int32_t>(step));
  FTotalPageCount = LPageManager->DBHeader()->TotalPageCount;

  const int64_t newLastPFS = (int64_t{FTotalPageCount} - 1) / FPFSPage_PagesAddressed;
  const int64_t newLastEAM = (int64_t{FTotalPageCount} - 1) / FEAMPage_PagesAddressed;
  for (int64_t k = oldLastPFS + 1; k <= newLastPFS; ++k) NewMapPage(PFSPageNo(k), ptPFS);
  for (int64_t k = oldLastEAM + 1; k <= newLastEAM; ++k) NewMapPage(EAMPageNo(k), ptEAM);
  FLastUsedPageNo = static_cast<int32_t>(newPage);
  for (int64_t k = oldLastEAM + 1; k <= newLastEAM; ++k) {
    SetPFSBit(static_cast<int32_t>(EAMPageNo(k)), true);
  }
  for (int64_t k = oldLastPFS + 1; k <= newLastPFS; ++k) {
    UpdateEAMEntry(static_cast<int32_t>(PFSPageNo(k)));
  }
  SetPageUsage(static_cast<int32_t>(newPage), true);
  return static_cast<int32_t>(newPage);
}

// ---------------------------------------------------------------------------
// Bits and entries

void TVEXDatabaseFreeSpaceManager::SetPageUsage(int32_t PageNo, bool Used) {
  SetPFSBit(PageNo, Used);
  UpdateEAMEntry(PageNo);
}

void TVEXDatabaseFreeSpaceManager::SetPFSBit(int32_t PageNo, bool Used) {
  if (PageNo < 0 || PageNo >= FTotalPageCount) {
    throw EVEXException(30430, kNotAddressed, PageNo, FTotalPageCount);
  }
  const std::unique_ptr<TVEXPage> pfs =
      ReadMapPage(PFSPageNo(PageNo / FPFSPage_PagesAddressed), ptPFS, 30424);
  const int64_t bit = PageNo % FPFSPage_PagesAddressed;
  uint8_t& byte = pfs->PageData()[bit / 8];
  const auto mask = static_cast<uint8_t>(1u << (bit % 8));
  if (Used && (byte & mask) != 0) throw EVEXException(30425, "Page: %d already used", PageNo);
  if (!Used && (byte & mask) == 0) throw EVEXException(30427, "Page: %d already free", PageNo);
  byte = static_cast<uint8_t>(Used ? byte | mask : byte & ~mask);
  WriteMapPage(*pfs);
}

void TVEXDatabaseFreeSpaceManager::UpdateEAMEntry(int32_t PageNo) {
  if (PageNo < 0 || PageNo >= FTotalPageCount) {
    throw EVEXException(30431, kNotAddressed, PageNo, FTotalPageCount);
  }
  const int64_t extent = PageNo / FPageCountInExtent;
  const std::unique_ptr<TVEXPage> eam =
      ReadMapPage(EAMPageNo(extent / FEAMPage_ExtentsAddressed), ptEAM, 30428);
  bool usedSeen = false;
  bool freeSeen = false;
  // An extent's pages share one PFS page, two at most: each is read once, not
  // once per page.
  int64_t pfsIndex = -1;
  std::unique_ptr<TVEXPage> pfs;
  for (int64_t p = extent * FPageCountInExtent;
       p < (extent + 1) * FPageCountInExtent && !(usedSeen && freeSeen); ++p) {
    const int64_t index = p / FPFSPage_PagesAddressed;
    // A PFS page past the last used page is not written yet: its pages are free.
    bool used = false;
    if (PFSPageNo(index) <= FLastUsedPageNo) {
      if (index != pfsIndex) {
        pfs = ReadMapPage(PFSPageNo(index), ptPFS, 30430);
        pfsIndex = index;
      }
      const int64_t bit = p % FPFSPage_PagesAddressed;
      used = (pfs->PageData()[bit / 8] >> (bit % 8)) & 1;
    }
    if (used) {
      usedSeen = true;
    } else {
      freeSeen = true;
    }
  }
  const uint8_t value = freeSeen ? 1 : (usedSeen ? 3 : 0);
  const int64_t x = extent % FEAMPage_ExtentsAddressed;
  uint8_t& byte = eam->PageData()[x / 4];
  const int shift = static_cast<int>(2 * (x % 4));
  byte = static_cast<uint8_t>((byte & ~(3 << shift)) | (value << shift));
  WriteMapPage(*eam);
}

bool TVEXDatabaseFreeSpaceManager::GetPageUsageFromPFS(int32_t PageNo) {
  const int64_t pfsPageNo = PFSPageNo(PageNo / FPFSPage_PagesAddressed);
  if (pfsPageNo > FLastUsedPageNo) return false;
  const std::unique_ptr<TVEXPage> pfs = ReadMapPage(pfsPageNo, ptPFS, 30430);
  const int64_t bit = PageNo % FPFSPage_PagesAddressed;
  return (pfs->PageData()[bit / 8] >> (bit % 8)) & 1;
}

// ---------------------------------------------------------------------------
// Release

void TVEXDatabaseFreeSpaceManager::FreePage(int32_t PageNo) {
  CheckPageNoForSystemPages(PageNo);
  HeaderLockHold lock(LPageManager, 20232);
  ReloadHeaderCounters();
  ScopeFailure storeCounters(
      [this]() VEX_NO_THREAD_SAFETY_ANALYSIS { StoreHeaderCountersAfterFailure(); });
  SetPageUsage(PageNo, false);
  FLastUsedPageNo = FindLastUsedPage();
  ShrinkFile();
  StoreHeaderCounters();
}

int32_t TVEXDatabaseFreeSpaceManager::FindLastUsedPage() {
  const int64_t dataSize = LPageManager->PageDataSize();
  for (int64_t k = std::max<int64_t>(FTotalPageCount - 1, 0) / FPFSPage_PagesAddressed; k >= 0;
       --k) {
    const std::unique_ptr<TVEXPage> pfs = ReadMapPage(PFSPageNo(k), ptPFS, 30432);
    const uint8_t* data = pfs->PageData();
    for (int64_t byte = dataSize - 1; byte >= 0; --byte) {
      if (data[byte] == 0) continue;
      for (int bit = 7; bit >= 0; --bit) {
        if (((data[byte] >> bit) & 1) == 0) continue;
        const int64_t pageNo = k * FPFSPage_PagesAddressed + byte * 8 + bit;
        if (!IsSystemPage(pageNo)) return static_cast<int32_t>(pageNo);
      }
    }
  }
  return -1;
}

void TVEXDatabaseFreeSpaceManager::ShrinkFile() {
  const int64_t step = DelPagesStep();
  const int64_t tail = int64_t{FTotalPageCount} - FLastUsedPageNo - 1;
  if (tail < step) return;
  int64_t cut = tail / step * step;
  const int64_t newTotal = FTotalPageCount - cut;
  if (newTotal >= 1) {
    // A file may not end on a PFS page whose EAM page follows it: growing it
    // again would take that EAM page for one that exists.
    const int64_t last = newTotal - 1;
    const int64_t eamPageNo = EAMPageNo(last / FEAMPage_PagesAddressed);
    if (eamPageNo > last) cut -= eamPageNo - last;
  }
  if (cut <= 0) return;
  // The header that the cut writes must already name the new last used page.
  LPageManager->DBHeader()->LastUsedPageNo = FLastUsedPageNo;
  LPageManager->TruncateFile(static_cast<int32_t>(cut));
  FTotalPageCount = LPageManager->DBHeader()->TotalPageCount;
  FLoadedTotalPageCount = FTotalPageCount;
  FLoadedLastUsedPageNo = FLastUsedPageNo;
}

}  // namespace vex
