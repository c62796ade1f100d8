#include "storage/disk/VEXDiskBlobManager.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXTypes.h"
#include "storage/VEXFieldManager.h"
#include "storage/VEXIndexManager.h"
#include "storage/VEXPageHold.h"
#include "storage/disk/VEXDiskRecordManager.h"

namespace vex {

uint16_t TVEXSmallBlobPage::BlobCount() const {
  uint16_t count = 0;
  std::memcpy(&count, LPage->PageData(), 2);
  return count;
}

void TVEXSmallBlobPage::SetBlobCount(uint16_t Value) {
  std::memcpy(LPage->PageData(), &Value, 2);
  LPage->SetIsDirty(true);
}

template <class F>
int32_t TVEXSmallBlobPage::Walk(F&& Visit) const {
  const uint8_t* data = LPage->PageData();
  const int64_t end = LPage->PageDataSize();
  int64_t offset = 2;
  const uint16_t count = BlobCount();
  for (uint16_t i = 0; i < count; ++i) {
    if (offset + kBlobItemHeaderSize > end) break;
    uint16_t id = 0;
    int64_t size = 0;
    std::memcpy(&id, data + offset, 2);
    std::memcpy(&size, data + offset + 6, 8);
    if (size < 0 || size > end - offset - kBlobItemHeaderSize) break;
    if (!Visit(static_cast<int32_t>(offset), id, size)) break;
    offset += kBlobItemHeaderSize + size;
  }
  return static_cast<int32_t>(offset);
}

int32_t TVEXSmallBlobPage::EndOffset() const {
  return Walk([](int32_t, uint16_t, int64_t) { return true; });
}

int32_t TVEXSmallBlobPage::FindItem(uint16_t ItemID) const {
  int32_t found = -1;
  Walk([&](int32_t offset, uint16_t id, int64_t) {
    if (id == ItemID) found = offset;
    return found == -1;
  });
  return found;
}

uint16_t TVEXSmallBlobPage::NewItemID() const {
  // At most BlobCount + 2 candidates can be refused, so the search ends.
  uint32_t candidate = BlobCount();
  for (uint32_t tries = 0; tries < 0x10000u; ++tries) {
    if (candidate == kLargeBlobItemNo) candidate = 0;
    if (candidate != kAmbiguousBlobItemNo && FindItem(static_cast<uint16_t>(candidate)) == -1) {
      return static_cast<uint16_t>(candidate);
    }
    ++candidate;
  }
  throw EVEXException(20172, "Invalid blob field ID");
}

void TVEXSmallBlobPage::AddBlob(const TVEXDiskBLOBCache& BlobCache, TVEXPageItemID& PageItemID) {
  const uint16_t id = NewItemID();
  const int32_t offset = EndOffset();
  const auto size = static_cast<int64_t>(BlobCache.BlobData.size());
  uint8_t* item = LPage->PageData() + offset;
  std::memcpy(item, &id, 2);
  std::memcpy(item + 2, &BlobCache.NumBlocks, 4);
  std::memcpy(item + 6, &size, 8);
  std::memcpy(item + 14, &BlobCache.UncompressedSize, 8);
  if (size > 0) std::memcpy(item + kBlobItemHeaderSize, BlobCache.BlobData.data(), size);
  SetBlobCount(static_cast<uint16_t>(BlobCount() + 1));
  PageItemID = {LPage->PageNo(), id};
}

void TVEXSmallBlobPage::DeleteBlob(TVEXPageItemID PageItemID, int32_t& BlobSize) {
  const int32_t offset = FindItem(PageItemID.PageItemNo);
  if (offset == -1) throw EVEXException(20171, "Cannot find blob field");
  uint8_t* data = LPage->PageData();
  int64_t size = 0;
  std::memcpy(&size, data + offset + 6, 8);
  BlobSize = static_cast<int32_t>(kBlobItemHeaderSize + size);
  const int32_t next = offset + BlobSize;
  std::memmove(data + offset, data + next, static_cast<size_t>(LPage->PageDataSize() - next));
  SetBlobCount(static_cast<uint16_t>(BlobCount() - 1));
}

void TVEXSmallBlobPage::ReadBlob(TVEXDiskBLOBCache& BlobCache, TVEXPageItemID PageItemID) const {
  const int32_t offset = FindItem(PageItemID.PageItemNo);
  if (offset == -1) return;
  const uint8_t* item = LPage->PageData() + offset;
  int64_t size = 0;
  std::memcpy(&BlobCache.NumBlocks, item + 2, 4);
  std::memcpy(&size, item + 6, 8);
  std::memcpy(&BlobCache.UncompressedSize, item + 14, 8);
  BlobCache.Modified = false;
  BlobCache.BlobData.assign(item + kBlobItemHeaderSize, item + kBlobItemHeaderSize + size);
}

// ---------------------------------------------------------------------------
// TVEXDiskBlobManager

namespace {

constexpr TVEXPageItemID kNoBlobID{-1, kLargeBlobItemNo};
// Large value, first page: item header, page-list descriptor, then data.
constexpr int32_t kListDescriptorOffset = 22;
constexpr int32_t kLargeDataOffset = 32;

bool IsValidBlobID(TVEXPageItemID ID) { return ID.PageNo != 0 && ID.PageNo != -1; }

[[noreturn]] void RaiseCannotRead(int32_t Code) {
  throw EVEXException(Code, "Cannot read BLOB field value");
}

}  // namespace

TVEXDiskBlobManager::TVEXDiskBlobManager(TVEXDiskPageManager* PageManager,
                                         TVEXBaseFieldManager* FieldManager,
                                         TVEXDiskRecordManager* RecordManager)
    : LPageManager(PageManager),
      LFieldManager(FieldManager),
      LRecordManager(RecordManager),
      FBlobPageIndex(PageManager) {}

TVEXDiskBlobManager::~TVEXDiskBlobManager() = default;

void TVEXDiskBlobManager::CheckReleased() const {
  if (!FBlobCacheList.empty()) throw EVEXException(20150, "Blob cache not released");
}

void TVEXDiskBlobManager::LoadMetadata(TVEXStream& Stream) {
  int32_t root = -1;
  Stream.ReadBuffer(&root, 4);
  FBlobPageIndex.OpenIndex(root);
}

void TVEXDiskBlobManager::SaveMetadata(TVEXStream& Stream) const {
  const int32_t root = FBlobPageIndex.RootPageNo();
  Stream.WriteBuffer(&root, 4);
}

void TVEXDiskBlobManager::CreateBlobPageIndex() { FBlobPageIndex.CreateIndex(-2); }

int32_t TVEXDiskBlobManager::OffsetOf(int32_t FieldNo) const {
  return LFieldManager->FieldDefs().GetDef(FieldNo)->MemoryOffset;
}

bool TVEXDiskBlobManager::IsBlobField(int32_t FieldNo) const {
  return IsBLOBBaseFieldType(LFieldManager->FieldDefs().GetDef(FieldNo)->BaseFieldType);
}

TVEXPageItemID TVEXDiskBlobManager::BlobIDOf(const uint8_t* RecordBuffer, int32_t Offset) {
  TVEXPageItemID id{};
  std::memcpy(&id.PageNo, RecordBuffer + Offset, 4);
  std::memcpy(&id.PageItemNo, RecordBuffer + Offset + 4, 2);
  return id;
}

TVEXDiskBLOBCache* TVEXDiskBlobManager::CacheOf(const uint8_t* RecordBuffer,
                                                int32_t FieldNo) const {
  if (RecordBuffer == nullptr) return nullptr;
  uint32_t handle = 0;
  std::memcpy(&handle, RecordBuffer + OffsetOf(FieldNo) + 6, 4);
  if (handle == 0) return nullptr;
  const auto it = FBlobCacheList.find(handle);
  return it == FBlobCacheList.end() ? nullptr : it->second.get();
}

TVEXDiskBLOBCache& TVEXDiskBlobManager::NewCache(uint8_t* RecordBuffer, int32_t FieldNo) {
  do {
    ++FLastHandle;
  } while (FLastHandle == 0 || FBlobCacheList.count(FLastHandle) != 0);
  auto entry = std::make_unique<TVEXDiskBLOBCache>();
  TVEXDiskBLOBCache& cache = *entry;
  FBlobCacheList.emplace(FLastHandle, std::move(entry));
  std::memcpy(RecordBuffer + OffsetOf(FieldNo) + 6, &FLastHandle, 4);
  return cache;
}

void TVEXDiskBlobManager::FreeCache(uint8_t* RecordBuffer, int32_t FieldNo) {
  uint32_t handle = 0;
  std::memcpy(&handle, RecordBuffer + OffsetOf(FieldNo) + 6, 4);
  FBlobCacheList.erase(handle);
  handle = 0;
  std::memcpy(RecordBuffer + OffsetOf(FieldNo) + 6, &handle, 4);
}

void TVEXDiskBlobManager::ClearBlobInRecordBuffer(uint8_t* RecordBuffer, int32_t FieldNo,
                                                  bool ForceClear) {
  TVEXDiskBLOBCache* cache = CacheOf(RecordBuffer, FieldNo);
  if (cache == nullptr || (cache->Modified && !ForceClear)) return;
  FreeCache(RecordBuffer, FieldNo);
}

// --- small values

TVEXPageItemID TVEXDiskBlobManager::StoreSmall(int32_t SessionID, const TVEXDiskBLOBCache& Cache) {
  const auto itemSize = static_cast<int32_t>(kBlobItemHeaderSize + Cache.BlobData.size());
  int32_t pageNo = -1;
  TVEXPageHold hold;
  if (FBlobPageIndex.FindPageForNewBlob(SessionID, itemSize, pageNo)) {
    hold = TVEXPageHold::Get(*LPageManager, SessionID, pageNo, ptTableBlob, true);
  } else {
    hold = TVEXPageHold::Add(*LPageManager, SessionID, ptTableBlob);
  }
  TVEXSmallBlobPage page(hold.Page());
  const int32_t offset = page.EndOffset();
  if (offset + itemSize > hold->PageDataSize()) {
    throw EVEXException(20290,
                        "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, "
                        "PageDataSize=%d, SizeInBlobPageIndex=%d",
                        int32_t{page.BlobCount()}, offset, itemSize, hold->PageDataSize(),
                        FBlobPageIndex.GetBlobPageAllocatedSpace(SessionID, hold->PageNo()));
  }
  TVEXPageItemID id{};
  page.AddBlob(Cache, id);
  hold.Put();
  FBlobPageIndex.AddBlob(SessionID, itemSize, id.PageNo);
  return id;
}

void TVEXDiskBlobManager::ReadSmall(int32_t SessionID, TVEXPageItemID ID,
                                    TVEXDiskBLOBCache& Cache) {
  TVEXPageHold hold = TVEXPageHold::Get(*LPageManager, SessionID, ID.PageNo, ptTableBlob, true);
  TVEXSmallBlobPage(hold.Page()).ReadBlob(Cache, ID);
  hold.Put();
}

void TVEXDiskBlobManager::DeleteSmall(int32_t SessionID, TVEXPageItemID ID) {
  TVEXPageHold hold = TVEXPageHold::Get(*LPageManager, SessionID, ID.PageNo, ptTableBlob, true);
  TVEXSmallBlobPage page(hold.Page());
  int32_t size = 0;
  page.DeleteBlob(ID, size);
  const bool emptied = page.BlobCount() == 0;
  hold.Put();
  if (emptied) LPageManager->RemovePage(SessionID, ID.PageNo);
  FBlobPageIndex.DeleteBlob(SessionID, size, ID.PageNo);
}

// --- large values

TVEXPageItemID TVEXDiskBlobManager::StoreLarge(int32_t SessionID, const TVEXDiskBLOBCache& Cache) {
  const int32_t dataSize = LPageManager->PageDataSize();
  const auto stored = static_cast<int64_t>(Cache.BlobData.size());
  std::vector<int32_t> pages;
  TVEXPageHold first = TVEXPageHold::Add(*LPageManager, SessionID, ptTableBlob);
  const int32_t firstPageNo = first->PageNo();
  {
    uint8_t* data = first->PageData();
    std::memcpy(data, &kLargeBlobItemNo, 2);
    std::memcpy(data + 2, &Cache.NumBlocks, 4);
    std::memcpy(data + 6, &stored, 8);
    std::memcpy(data + 14, &Cache.UncompressedSize, 8);
  }
  // Data: the first page from offset 32, then whole pages from 0.
  int64_t done = 0;
  int32_t endOffset = 0;
  int32_t lastPageNo = firstPageNo;
  {
    const int64_t n = std::min<int64_t>(stored, dataSize - kLargeDataOffset);
    std::memcpy(first->PageData() + kLargeDataOffset, Cache.BlobData.data(), n);
    done = n;
    endOffset = static_cast<int32_t>(kLargeDataOffset + n);
    pages.push_back(firstPageNo);
  }
  first->SetIsDirty(true);
  first.Put();
  while (done < stored) {
    TVEXPageHold hold = TVEXPageHold::Add(*LPageManager, SessionID, ptTableBlob);
    const int64_t n = std::min<int64_t>(stored - done, dataSize);
    std::memcpy(hold->PageData(), Cache.BlobData.data() + done, n);
    hold->SetIsDirty(true);
    done += n;
    endOffset = static_cast<int32_t>(n);
    lastPageNo = hold->PageNo();
    pages.push_back(lastPageNo);
    hold.Put();
  }
  // The page list, behind the data or from a new page when the last is full.
  TVEXPageHold list;
  int32_t offset = endOffset;
  if (offset >= dataSize) {
    list = TVEXPageHold::Add(*LPageManager, SessionID, ptTableBlob);
    offset = 0;
  } else {
    list = TVEXPageHold::Get(*LPageManager, SessionID, lastPageNo, ptTableBlob, true);
  }
  const int32_t listPageNo = list->PageNo();
  const auto listOffset = static_cast<uint16_t>(offset);
  size_t next = 0;
  for (;;) {
    while (next < pages.size() && offset + 4 <= dataSize) {
      std::memcpy(list->PageData() + offset, &pages[next++], 4);
      offset += 4;
    }
    list->SetIsDirty(true);
    if (next == pages.size()) break;
    TVEXPageHold more = TVEXPageHold::Add(*LPageManager, SessionID, ptTableBlob);
    const int32_t moreNo = more->PageNo();
    std::memcpy(&list->PageHeader()->NextPageNo, &moreNo, 4);
    list = std::move(more);
    offset = 0;
  }
  list.Put();
  TVEXPageHold head = TVEXPageHold::Get(*LPageManager, SessionID, firstPageNo, ptTableBlob, true);
  const auto count = static_cast<int32_t>(pages.size());
  uint8_t* descriptor = head->PageData() + kListDescriptorOffset;
  std::memcpy(descriptor, &listPageNo, 4);
  std::memcpy(descriptor + 4, &listOffset, 2);
  std::memcpy(descriptor + 6, &count, 4);
  head->SetIsDirty(true);
  head.Put();
  return {firstPageNo, kLargeBlobItemNo};
}

void TVEXDiskBlobManager::ReadPageList(int32_t SessionID, int32_t FirstPageNo,
                                       std::vector<int32_t>& DataPages,
                                       std::vector<int32_t>& ListPages, int64_t& StoredSize) {
  const int32_t dataSize = LPageManager->PageDataSize();
  int32_t listPageNo = 0;
  uint16_t listOffset = 0;
  int32_t count = 0;
  {
    TVEXPageHold head = TVEXPageHold::Get(*LPageManager, SessionID, FirstPageNo, ptTableBlob, true);
    const uint8_t* data = head->PageData();
    std::memcpy(&StoredSize, data + 6, 8);
    std::memcpy(&listPageNo, data + kListDescriptorOffset, 4);
    std::memcpy(&listOffset, data + kListDescriptorOffset + 4, 2);
    std::memcpy(&count, data + kListDescriptorOffset + 6, 4);
    head.Put();
  }
  // The stored size fixes how many data pages there can be; a list that
  // says otherwise is damaged, and is not followed.
  const int64_t expected =
      StoredSize <= dataSize - kLargeDataOffset
          ? 1
          : 1 + (StoredSize - (dataSize - kLargeDataOffset) + dataSize - 1) / dataSize;
  if (StoredSize < 0 || count != expected || listOffset > dataSize ||
      LPageManager->ExceedsPageCountBound(count)) {
    RaiseCannotRead(20162);
  }
  DataPages.clear();
  ListPages.clear();
  int32_t pageNo = listPageNo;
  int32_t offset = listOffset;
  while (static_cast<int32_t>(DataPages.size()) < count) {
    if (pageNo <= 0 || static_cast<int64_t>(ListPages.size()) > count + 1) RaiseCannotRead(20162);
    TVEXPageHold hold = TVEXPageHold::Get(*LPageManager, SessionID, pageNo, ptTableBlob, true);
    ListPages.push_back(pageNo);
    while (static_cast<int32_t>(DataPages.size()) < count && offset + 4 <= dataSize) {
      int32_t entry = 0;
      std::memcpy(&entry, hold->PageData() + offset, 4);
      DataPages.push_back(entry);
      offset += 4;
    }
    std::memcpy(&pageNo, &hold->PageHeader()->NextPageNo, 4);
    offset = 0;
    hold.Put();
  }
}

void TVEXDiskBlobManager::ReadLarge(int32_t SessionID, TVEXPageItemID ID,
                                    TVEXDiskBLOBCache& Cache) {
  std::vector<int32_t> dataPages;
  std::vector<int32_t> listPages;
  int64_t stored = 0;
  ReadPageList(SessionID, ID.PageNo, dataPages, listPages, stored);
  const int32_t dataSize = LPageManager->PageDataSize();
  std::vector<uint8_t> bytes(static_cast<size_t>(stored));
  int64_t done = 0;
  for (size_t i = 0; i < dataPages.size(); ++i) {
    const int32_t start = i == 0 ? kLargeDataOffset : 0;
    TVEXPageHold hold =
        TVEXPageHold::Get(*LPageManager, SessionID, dataPages[i], ptTableBlob, true);
    if (i == 0) {
      std::memcpy(&Cache.NumBlocks, hold->PageData() + 2, 4);
      std::memcpy(&Cache.UncompressedSize, hold->PageData() + 14, 8);
    }
    const int64_t n = std::min<int64_t>(stored - done, dataSize - start);
    std::memcpy(bytes.data() + done, hold->PageData() + start, static_cast<size_t>(n));
    done += n;
    hold.Put();
  }
  Cache.Modified = false;
  Cache.BlobData = std::move(bytes);
}

void TVEXDiskBlobManager::DeleteLarge(int32_t SessionID, TVEXPageItemID ID) {
  std::vector<int32_t> dataPages;
  std::vector<int32_t> listPages;
  int64_t stored = 0;
  ReadPageList(SessionID, ID.PageNo, dataPages, listPages, stored);
  for (int32_t p : dataPages) LPageManager->RemovePage(SessionID, p);
  for (size_t i = 0; i < listPages.size(); ++i) {
    if (i == 0 && listPages[0] == dataPages.back()) continue;
    LPageManager->RemovePage(SessionID, listPages[i]);
  }
}

bool TVEXDiskBlobManager::LooksLarge(int32_t SessionID, TVEXPageItemID ID) {
  if (ID.PageItemNo == kLargeBlobItemNo) return true;
  if (ID.PageItemNo != kAmbiguousBlobItemNo) return false;
  // Files written before item 255 was retired may hold a small item 255.
  try {
    TVEXPageHold hold = TVEXPageHold::Get(*LPageManager, SessionID, ID.PageNo, ptTableBlob, true);
    int64_t stored = 0;
    int32_t count = 0;
    std::memcpy(&stored, hold->PageData() + 6, 8);
    std::memcpy(&count, hold->PageData() + kListDescriptorOffset + 6, 4);
    hold.Put();
    const int64_t d = LPageManager->PageDataSize();
    return (int64_t{count} - 2) * d < stored && stored < int64_t{count} * d;
  } catch (const std::exception&) {
    return false;
  }
}

void TVEXDiskBlobManager::ReadStored(int32_t SessionID, TVEXPageItemID ID,
                                     TVEXDiskBLOBCache& Cache) {
  const bool large = LooksLarge(SessionID, ID);
  if (ID.PageItemNo != kAmbiguousBlobItemNo) {
    large ? ReadLarge(SessionID, ID, Cache) : ReadSmall(SessionID, ID, Cache);
    return;
  }
  try {
    large ? ReadLarge(SessionID, ID, Cache) : ReadSmall(SessionID, ID, Cache);
  } catch (const std::exception&) {
    large ? ReadSmall(SessionID, ID, Cache) : ReadLarge(SessionID, ID, Cache);
  }
}

void TVEXDiskBlobManager::DeleteStored(int32_t SessionID, TVEXPageItemID ID) {
  const bool large = LooksLarge(SessionID, ID);
  if (ID.PageItemNo != kAmbiguousBlobItemNo) {
    large ? DeleteLarge(SessionID, ID) : DeleteSmall(SessionID, ID);
    return;
  }
  try {
    large ? DeleteLarge(SessionID, ID) : DeleteSmall(SessionID, ID);
  } catch (const std::exception&) {
    large ? DeleteSmall(SessionID, ID) : DeleteLarge(SessionID, ID);
  }
}

// --- record buffers

void TVEXDiskBlobManager::ReadBlob(int32_t SessionID, uint8_t* RecordBuffer, int32_t FieldNo) {
  if (CacheOf(RecordBuffer, FieldNo) != nullptr) return;
  const TVEXPageItemID id = BlobIDOf(RecordBuffer, OffsetOf(FieldNo));
  if (!IsValidBlobID(id)) return;
  TVEXDiskBLOBCache fresh;
  ReadStored(SessionID, id, fresh);
  NewCache(RecordBuffer, FieldNo) = std::move(fresh);
}

void TVEXDiskBlobManager::WriteBlob(int32_t SessionID, uint8_t* RecordBuffer, int32_t FieldNo) {
  TVEXDiskBLOBCache* cache = CacheOf(RecordBuffer, FieldNo);
  if (cache == nullptr || !cache->Modified) return;
  const int32_t offset = OffsetOf(FieldNo);
  TVEXPageItemID id = BlobIDOf(RecordBuffer, offset);
  if (IsValidBlobID(id)) {
    DeleteStored(SessionID, id);
    id = kNoBlobID;
  }
  if (cache->UncompressedSize > 0) {
    const auto stored = static_cast<int64_t>(cache->BlobData.size());
    id = stored + 24 < LPageManager->PageDataSize() ? StoreSmall(SessionID, *cache)
                                                    : StoreLarge(SessionID, *cache);
  }
  std::memcpy(RecordBuffer + offset, &id.PageNo, 4);
  std::memcpy(RecordBuffer + offset + 4, &id.PageItemNo, 2);
  cache->Modified = false;
  ClearBlobInRecordBuffer(RecordBuffer, FieldNo, false);
}

void TVEXDiskBlobManager::WriteBlobs(int32_t SessionID, uint8_t* RecordBuffer) {
  for (int32_t f = 0; f < LFieldManager->FieldDefs().Count(); ++f) {
    if (IsBlobField(f)) WriteBlob(SessionID, RecordBuffer, f);
  }
}

void TVEXDiskBlobManager::DeleteBlob(int32_t SessionID, uint8_t* RecordBuffer, int32_t FieldNo) {
  if (GetBitFromBuffer(FieldNo, RecordBuffer)) return;
  const TVEXPageItemID id = BlobIDOf(RecordBuffer, OffsetOf(FieldNo));
  if (IsValidBlobID(id)) DeleteStored(SessionID, id);
  if (TVEXDiskBLOBCache* cache = CacheOf(RecordBuffer, FieldNo)) cache->Modified = false;
}

void TVEXDiskBlobManager::DeleteBlobs(int32_t SessionID, uint8_t* RecordBuffer) {
  for (int32_t f = 0; f < LFieldManager->FieldDefs().Count(); ++f) {
    if (IsBlobField(f)) DeleteBlob(SessionID, RecordBuffer, f);
  }
}

void TVEXDiskBlobManager::CopyBlobFromRecordBufferToStream(int32_t SessionID, uint8_t* RecordBuffer,
                                                           int32_t FieldNo,
                                                           TVEXBLOBDescriptor& BLOBDescriptor,
                                                           TVEXStream& Stream) {
  if (GetBitFromBuffer(FieldNo, RecordBuffer)) {
    BLOBDescriptor.NumBlocks = 0;
    BLOBDescriptor.UncompressedSize = 0;
    return;
  }
  ReadBlob(SessionID, RecordBuffer, FieldNo);
  TVEXDiskBLOBCache* cache = CacheOf(RecordBuffer, FieldNo);
  if (cache == nullptr) RaiseCannotRead(20162);
  if (!cache->BlobData.empty()) {
    Stream.WriteBuffer(cache->BlobData.data(), static_cast<int32_t>(cache->BlobData.size()));
  }
  BLOBDescriptor.NumBlocks = cache->NumBlocks;
  BLOBDescriptor.UncompressedSize = cache->UncompressedSize;
}

void TVEXDiskBlobManager::CopyBlobFromStreamToRecordBuffer(uint8_t* RecordBuffer, int32_t FieldNo,
                                                           TVEXCompressedBLOBStream& Stream) {
  if (!Stream.Modified()) return;
  ClearBlobInRecordBuffer(RecordBuffer, FieldNo, true);
  TVEXDiskBLOBCache fresh;
  fresh.NumBlocks = static_cast<int32_t>(Stream.BLOBDescriptor().NumBlocks);
  fresh.UncompressedSize = Stream.BLOBDescriptor().UncompressedSize;
  rtl::TStream& compressed = Stream.CompressedStream();
  const int64_t size = compressed.Size();
  fresh.BlobData.resize(static_cast<size_t>(size));
  if (size > 0) {
    const int64_t at = compressed.Position();
    compressed.SetPosition(0);
    compressed.ReadBuffer(fresh.BlobData.data(), static_cast<int32_t>(size));
    compressed.SetPosition(at);
  }
  fresh.Modified = true;
  SetBitInBuffer(Stream.Size() == 0, FieldNo, RecordBuffer);
  NewCache(RecordBuffer, FieldNo) = std::move(fresh);
}

void TVEXDiskBlobManager::GetDirectBlobInfoFromRecordBuffer(int32_t SessionID,
                                                            uint8_t* RecordBuffer, int32_t FieldNo,
                                                            TVEXBLOBDescriptor& BLOBDescriptor,
                                                            const uint8_t*& pBlobData,
                                                            int64_t& CompressedSize) {
  BLOBDescriptor = TVEXBLOBDescriptor{};
  pBlobData = nullptr;
  CompressedSize = 0;
  if (GetBitFromBuffer(FieldNo, RecordBuffer)) return;
  ReadBlob(SessionID, RecordBuffer, FieldNo);
  TVEXDiskBLOBCache* cache = CacheOf(RecordBuffer, FieldNo);
  if (cache == nullptr) RaiseCannotRead(20291);
  BLOBDescriptor.NumBlocks = cache->NumBlocks;
  BLOBDescriptor.UncompressedSize = cache->UncompressedSize;
  CompressedSize = static_cast<int64_t>(cache->BlobData.size());
  pBlobData = cache->BlobData.empty() ? nullptr : cache->BlobData.data();
}

void TVEXDiskBlobManager::SetDirectBlobInfoFromRecordBuffer(
    uint8_t* RecordBuffer, int32_t FieldNo, const TVEXBLOBDescriptor& BLOBDescriptor,
    const uint8_t* pBlobData, int64_t CompressedSize) {
  ClearBlobInRecordBuffer(RecordBuffer, FieldNo, true);
  TVEXDiskBLOBCache fresh;
  fresh.NumBlocks = static_cast<int32_t>(BLOBDescriptor.NumBlocks);
  fresh.UncompressedSize = BLOBDescriptor.UncompressedSize;
  fresh.Modified = true;
  if (CompressedSize > 0) fresh.BlobData.assign(pBlobData, pBlobData + CompressedSize);
  SetBitInBuffer(CompressedSize <= 0, FieldNo, RecordBuffer);
  NewCache(RecordBuffer, FieldNo) = std::move(fresh);
}

void TVEXDiskBlobManager::Empty(int32_t SessionID) {
  if (!LFieldManager->BlobFieldsPresent()) return;
  std::vector<uint8_t> record(static_cast<size_t>(LRecordManager->RecordBufferSize()), 0);
  TVEXNavigationInfo nav;
  nav.GetRecordMode = grmNext;
  nav.FirstPosition = true;
  nav.IndexID = -1;
  nav.RecordBuffer = record.data();
  // The record manager works on this manager's page manager, under the lock
  // the caller holds; through the abstract record store the analysis need
  // not match the two paths to that lock.
  TVEXBaseRecordManager& records = *LRecordManager;
  for (;;) {
    records.GetRecordBuffer(SessionID, nav);
    if (nav.GetRecordResult != grrOK) break;
    DeleteBlobs(SessionID, record.data());
  }
  if (FBlobPageIndex.RootPageNo() != -1) FBlobPageIndex.EmptyIndex(SessionID);
}

void TVEXDiskBlobManager::Delete(int32_t SessionID) {
  if (!LFieldManager->BlobFieldsPresent()) return;
  Empty(SessionID);
  if (FBlobPageIndex.RootPageNo() != -1) FBlobPageIndex.DropIndex(SessionID);
}

}  // namespace vex
