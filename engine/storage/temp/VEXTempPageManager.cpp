#include "storage/temp/VEXTempPageManager.h"

#include <algorithm>
#include <limits>

#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"

namespace vex {

TVEXTemporaryPageManager::TVEXTemporaryPageManager(bool DisableTempFiles, TVEXLock* DatabaseLock)
    : TVEXPageManager(DatabaseLock),
      FMaxMemoryPageCount(static_cast<int32_t>(std::min<int64_t>(
          MemoryManager->GetFreeMemorySize() / 10 / kPageSize, std::numeric_limits<int32_t>::max()))),
      FMemoryPageManager(std::make_unique<TVEXMemoryPageManager>(DatabaseLock)),
      FDisableTempFiles(DisableTempFiles) {
  FPageSize = kPageSize;
  FPageHeaderSize = 0;
  FPageDataSize = kPageSize;
}

TVEXTemporaryPageManager::~TVEXTemporaryPageManager() VEX_NO_THREAD_SAFETY_ANALYSIS {
  // Page objects may borrow blocks of the RAM store: they go first.
  FreeAllPages();
}

bool TVEXTemporaryPageManager::IsAllocated(int32_t PageNo) const {
  return PageNo >= 0 && PageNo < FAllocatedPageCount && FAllocatedPageMap.GetBit(PageNo);
}

void TVEXTemporaryPageManager::Allocate(int32_t PageNo) {
  if (PageNo >= FAllocatedPageCount) {
    FAllocatedPageMap.SetSize(PageNo + 1);
    FAllocatedPageCount = PageNo + 1;
  }
  FAllocatedPageMap.SetBit(PageNo, true);
  ++FPageCount;
}

TVEXFileStream& TVEXTemporaryPageManager::PageFile() {
  if (FTempPageFile == nullptr) FTempPageFile = TVEXFileStream::CreateTemporary();
  return *FTempPageFile;
}

void TVEXTemporaryPageManager::InternalAddPage(TVEXPage* aPage) {
  if (!FDisableTempFiles && FAllocatedPageCount >= FMaxMemoryPageCount) {
    const int32_t pageNo = FAllocatedPageCount;
    TVEXFileStream& file = PageFile();
    const int64_t needed = FileOffset(pageNo) + kPageSize;
    // Grown by half again, not page by page.
    if (file.GetSize() < needed) file.SetSize(needed * 3 / 2);
    aPage->AllocPageBuffer();
    aPage->SetPageNo(pageNo);
    Allocate(pageNo);
    return;
  }
  FMemoryPageManager->InternalAddPage(aPage);
  Allocate(aPage->PageNo());
}

void TVEXTemporaryPageManager::InternalRemovePage(int32_t PageNo) {
  if (!IsAllocated(PageNo)) return;
  FAllocatedPageMap.SetBit(PageNo, false);
  --FPageCount;
  if (IsMemoryPage(PageNo)) FMemoryPageManager->InternalRemovePage(PageNo);
}

bool TVEXTemporaryPageManager::InternalReadPage(TVEXPage* aPage) {
  const int32_t pageNo = aPage->PageNo();
  if (!IsAllocated(pageNo)) throw EVEXException(10396, "Page allocation not released");
  if (IsMemoryPage(pageNo)) return FMemoryPageManager->InternalReadPage(aPage);
  if (FTempPageFile == nullptr) throw EVEXException(30482, "Invalid pointer");
  if (aPage->PageBuffer() == nullptr || !aPage->OwnBuffer()) aPage->AllocPageBuffer();
  if (FTempPageFile->Seek(FileOffset(pageNo), rtl::soFromBeginning) != FileOffset(pageNo))
    return false;
  return FTempPageFile->Read(aPage->PageBuffer(), kPageSize) == kPageSize;
}

void TVEXTemporaryPageManager::InternalWritePage(TVEXPage* aPage) {
  const int32_t pageNo = aPage->PageNo();
  if (!IsAllocated(pageNo)) throw EVEXException(10397, "Page allocation not released");
  if (IsMemoryPage(pageNo)) {
    FMemoryPageManager->InternalWritePage(aPage);
    return;
  }
  TVEXFileStream& file = PageFile();
  if (file.Seek(FileOffset(pageNo), rtl::soFromBeginning) != FileOffset(pageNo) ||
      file.Write(aPage->PageBuffer(), kPageSize) != kPageSize)
    throw EVEXException(10125, "Error writing to stream");
}

}  // namespace vex
