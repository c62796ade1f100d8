#include "storage/memory/VEXMemPageManager.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "foundation/VEXExcept.h"
#include "foundation/VEXStream.h"
#include "rtl/Stream.h"

namespace vex {

namespace {
constexpr const char* kPageNotAllocated = "Page allocation not released";
constexpr const char* kReadMessage =
    "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";

template <class T>
void WriteValue(rtl::TStream& Stream, T Value, int32_t Code) {
  WriteStreamChecked(&Value, sizeof(T), Stream, Code);
}
template <class T>
T ReadValue(rtl::TStream& Stream, int32_t Code) {
  T value{};
  ReadStreamChecked(&value, sizeof(T), Stream, Code);
  return value;
}
}  // namespace

TVEXMemoryPageManager::TVEXMemoryPageManager(TVEXLock* DatabaseLock)
    : TVEXPageManager(DatabaseLock) {
  FPageSize = kPageSize;
  FPageHeaderSize = 0;
  FPageDataSize = kPageSize;
}

TVEXMemoryPageManager::~TVEXMemoryPageManager() VEX_NO_THREAD_SAFETY_ANALYSIS {
  // The page objects borrow the blocks (note 2): they go before the blocks do.
  FreeAllPages();
}

bool TVEXMemoryPageManager::IsPageAllocated(int32_t PageNo) const {
  return PageNo >= 0 && PageNo < FAllocatedPageCount && FAllocatedPageMap.GetBit(PageNo);
}

uint8_t* TVEXMemoryPageManager::PageBlock(int32_t PageNo) const {
  if (PageNo < 0 || static_cast<size_t>(PageNo) >= FDataPtrs.size()) return nullptr;
  return FDataPtrs[static_cast<size_t>(PageNo)].As<uint8_t>();
}

void TVEXMemoryPageManager::GrowBlocks(int32_t Count) {
  FDataPtrs.reserve(static_cast<size_t>(Count));
  while (FDataPtrs.size() < static_cast<size_t>(Count))
    FDataPtrs.push_back(TVEXMemBlock::AllocMem(kPageSize));
}

void TVEXMemoryPageManager::InternalAddPage(TVEXPage* aPage) {
  int32_t pageNo = 0;
  if (!FAllocatedPageMap.FindBit(false, pageNo) || pageNo >= FAllocatedPageCount)
    pageNo = FAllocatedPageCount == 0 ? 0 : FLastAllocatedPageNo + 1;
  if (IsPageAllocated(pageNo)) throw EVEXException(20037, kPageNotAllocated);
  // Everything that can fail comes before the first change.
  const int32_t newMapSize =
      pageNo >= FAllocatedPageCount ? std::max(pageNo + 1, FAllocatedPageCount + FAllocateBy)
                                    : FAllocatedPageCount;
  if (static_cast<size_t>(pageNo) >= FDataPtrs.size())
    GrowBlocks(std::max<int32_t>(pageNo + 1, static_cast<int32_t>(FDataPtrs.size()) + FAllocateBy));
  if (newMapSize != FAllocatedPageCount) {
    FAllocatedPageMap.SetSize(newMapSize);
    FAllocatedPageCount = newMapSize;
  }
  FAllocatedPageMap.SetBit(pageNo, true);
  ++FPageCount;
  FLastAllocatedPageNo = std::max(FLastAllocatedPageNo, pageNo);
  uint8_t* block = PageBlock(pageNo);
  // A number freed earlier hands back its old block: a new page starts clean.
  std::memset(block, 0, kPageSize);
  aPage->FreeAndNilPageBuffer();
  aPage->SetPageNo(pageNo);
  aPage->SetOwnBuffer(false);
  aPage->SetPageBuffer(block);
}

void TVEXMemoryPageManager::InternalRemovePage(int32_t PageNo) {
  if (!IsPageAllocated(PageNo)) return;
  FAllocatedPageMap.SetBit(PageNo, false);
  --FPageCount;
}

bool TVEXMemoryPageManager::InternalReadPage(TVEXPage* aPage) {
  const int32_t pageNo = aPage->PageNo();
  if (!IsPageAllocated(pageNo) || PageBlock(pageNo) == nullptr)
    throw EVEXException(10392, kPageNotAllocated);
  aPage->FreeAndNilPageBuffer();
  aPage->SetOwnBuffer(false);
  aPage->SetPageBuffer(PageBlock(pageNo));
  return true;
}

void TVEXMemoryPageManager::InternalWritePage(TVEXPage* aPage) {
  const int32_t pageNo = aPage->PageNo();
  uint8_t* block = PageBlock(pageNo);
  if (!IsPageAllocated(pageNo) || block == nullptr) throw EVEXException(10393, kPageNotAllocated);
  if (aPage->PageBuffer() != nullptr && aPage->PageBuffer() != block)
    std::memcpy(block, aPage->PageBuffer(), kPageSize);
}

void TVEXMemoryPageManager::SaveToStream(rtl::TStream& Stream) {
  WriteValue<int32_t>(Stream, FAllocatedPageCount, 10362);
  WriteValue<int32_t>(Stream, FLastAllocatedPageNo, 10363);
  WriteValue<int32_t>(Stream, FAllocateBy, 10364);
  WriteValue<uint16_t>(Stream, FPageSize, 10365);
  WriteValue<uint16_t>(Stream, FPageHeaderSize, 10366);
  WriteValue<int32_t>(Stream, FPageCount, 10367);
  FAllocatedPageMap.SaveToStream(Stream);
  TVEXMemBlock zeros;
  for (int32_t pageNo = 0; pageNo < FAllocatedPageCount; ++pageNo) {
    const uint8_t* block = PageBlock(pageNo);
    if (block == nullptr) {
      if (!zeros) zeros = TVEXMemBlock::AllocMem(kPageSize);
      block = zeros.As<uint8_t>();
    }
    WriteStreamChecked(block, kPageSize, Stream, 10368);
  }
}

void TVEXMemoryPageManager::LoadFromStream(rtl::TStream& Stream) {
  const int64_t start = Stream.Position();
  const auto allocated = ReadValue<int32_t>(Stream, 10369);
  const auto last = ReadValue<int32_t>(Stream, 10370);
  const auto allocateBy = ReadValue<int32_t>(Stream, 10371);
  const auto pageSize = ReadValue<uint16_t>(Stream, 10372);
  const auto headerSize = ReadValue<uint16_t>(Stream, 10373);
  const auto pageCount = ReadValue<int32_t>(Stream, 10374);
  TVEXBitsArray map;
  map.LoadFromStream(Stream);
  // A damaged or foreign stream is refused before anything is replaced or
  // allocated for it.
  const bool consistent = allocated >= 0 && pageSize == kPageSize && headerSize == 0 &&
                          allocateBy > 0 && map.BitCount() == allocated &&
                          map.NonZeroBitCount() == pageCount && last >= 0 &&
                          (allocated == 0 || last < allocated);
  if (!consistent)
    throw EVEXException(10375, kReadMessage, start, Stream.GetSize(), kPageSize, 0);
  CheckStreamHolds(Stream, int64_t{allocated} * kPageSize, 10375);
  std::vector<TVEXMemBlock> blocks;
  blocks.reserve(static_cast<size_t>(allocated));
  for (int32_t i = 0; i < allocated; ++i) {
    blocks.push_back(TVEXMemBlock::AllocMem(kPageSize));
    ReadStreamChecked(blocks.back().Get(), kPageSize, Stream, 10375);
  }
  // Cached page objects point into the old blocks.
  TVEXLockGuard lock(DatabaseLock());
  FreeAllPages();
  FDataPtrs = std::move(blocks);
  FAllocatedPageMap.SetSize(0);
  FAllocatedPageMap.SetSize(allocated);
  for (int32_t i = 0; i < allocated; ++i)
    if (map.GetBit(i)) FAllocatedPageMap.SetBit(i, true);
  FAllocatedPageCount = allocated;
  FLastAllocatedPageNo = last;
  FAllocateBy = allocateBy;
  FPageCount = pageCount;
}

void TVEXMemoryPageManager::CheckIntegrity() const {
  std::string faults;
  if (FAllocatedPageMap.BitCount() != FAllocatedPageCount)
    faults += "the allocation map's size differs from the allocated page count; ";
  if (FAllocatedPageMap.NonZeroBitCount() != FPageCount)
    faults += "the page count differs from the allocated pages; ";
  if (FPageCount > 0 && !IsPageAllocated(FLastAllocatedPageNo) &&
      FLastAllocatedPageNo >= FAllocatedPageCount)
    faults += "the last page number lies beyond the map; ";
  for (int32_t pageNo = 0; pageNo < FAllocatedPageCount; ++pageNo) {
    if (IsPageAllocated(pageNo) && PageBlock(pageNo) == nullptr)
      faults += "page " + std::to_string(pageNo) + " has no block; ";
  }
  for (const TVEXMemBlock& block : FDataPtrs) {
    if (MemoryManager->GetMemoryBufferSize(block.Get()) != kPageSize) {
      faults += "a block is not one page long; ";
      break;
    }
  }
  if (!faults.empty()) throw EPageManagerIntegrityError("memory page store: " + faults);
}

}  // namespace vex
