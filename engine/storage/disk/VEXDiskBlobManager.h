// BLOB storage of a disk table. A value is kept as the bytes of its
// compressed stream with its block count and uncompressed size, apart from the
// record, which holds only the value's id (page, item). A small value (stored
// size S with S + 24 < PageDataSize) shares a BLOB page (page type 11) with
// other small values; a larger one gets pages of its own listed in a page
// list (docs/file-formats.md, "BLOB pages"). TVEXSmallBlobPage reads and
// writes the small layout, TVEXDiskBlobManager's StoreLarge / ReadLarge /
// DeleteLarge the large one.
//
// Design notes
//   1. Item ids on a page are unique and never change while the item lives;
//      items lie back to back from data offset 2, BlobCount of them.
//   2. A new item never gets the id 255 nor 0xFFFF: 0xFFFF marks a large
//      value in a BLOB id, and an item numbered 255 would have to be told
//      from a large value by guessing from its page. Pages written earlier
//      may still hold an item 255; it is read like any other.
//   3. A BLOB field of a memory record is 10 bytes: the id (PageNo i32,
//      PageItemNo u16) and a u32 cache handle, 0 for none. A handle is a
//      serial number into the manager's registry, never reused while the
//      manager lives, so a stale copy of a record buffer cannot adopt
//      another field's entry: a handle not in the registry reads as none.
//   4. Every cache entry lives in the registry until it is stored, cleared
//      or the manager is closed; CheckReleased raises 20150 while any is
//      left, the destructor only frees.
//   5. A stored value is never changed in place: writing deletes the old
//      value, then stores the new one. A shared page is in the BLOB-page
//      index exactly while it holds an item, with the bytes its items take.
//   6. Walking the items never leaves the data area: an item whose header or
//      data would pass its end ends the walk (a damaged page reads as holding
//      fewer items, never as bytes beyond the page).
//
// Threads: no lock of its own; REQUIRES the owning database's lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "foundation/VEXCompressedBLOBStream.h"
#include "foundation/VEXLock.h"
#include "storage/VEXPage.h"
#include "storage/btree/VEXBTreePageIndex.h"
#include "storage/disk/VEXDiskPageManager.h"

namespace vex {

// The value of one BLOB field of a record buffer while it is worked on.
struct TVEXDiskBLOBCache {
  int32_t NumBlocks = 0;
  int64_t UncompressedSize = 0;
  bool Modified = false;
  // The compressed-stream bytes; their count is the value's stored size.
  std::vector<uint8_t> BlobData;
};

inline constexpr int32_t kBlobItemHeaderSize = 22;
inline constexpr uint16_t kLargeBlobItemNo = 0xFFFF;
// Never handed out to a new small item (note 2).
inline constexpr uint16_t kAmbiguousBlobItemNo = 255;

// A short-lived view of one small-BLOB page; the page is not owned.
class TVEXSmallBlobPage {
 public:
  explicit TVEXSmallBlobPage(TVEXPage* Page) : LPage(Page) {}

  uint16_t BlobCount() const;
  void SetBlobCount(uint16_t Value);

  // The id a new item gets: from BlobCount on, the first not on the page,
  // skipping 255 and 0xFFFF. 20172 "Invalid blob field ID" when none is free.
  uint16_t NewItemID() const;
  // Appends an item behind the last one; the caller has checked the room.
  void AddBlob(const TVEXDiskBLOBCache& BlobCache, TVEXPageItemID& PageItemID);
  // Removes the item and moves the ones behind it down; BlobSize := 22 + S.
  // 20171 "Cannot find blob field" when the id is not on the page.
  void DeleteBlob(TVEXPageItemID PageItemID, int32_t& BlobSize);
  // Fills the entry from the item (Modified false); nothing when the id is
  // not on the page.
  void ReadBlob(TVEXDiskBLOBCache& BlobCache, TVEXPageItemID PageItemID) const;
  // The data offset just past the last item.
  int32_t EndOffset() const;

 private:
  // The data offset of the item with that id, -1 when none.
  int32_t FindItem(uint16_t ItemID) const;
  // Calls Visit(offset, id, size) for every item that lies wholly inside
  // the data area; returns the offset past the last one.
  template <class F>
  int32_t Walk(F&& Visit) const;

  TVEXPage* LPage;
};

class TVEXBaseFieldManager;
class TVEXDiskRecordManager;
class TVEXStream;

class TVEXDiskBlobManager {
 public:
  TVEXDiskBlobManager(TVEXDiskPageManager* PageManager, TVEXBaseFieldManager* FieldManager,
                      TVEXDiskRecordManager* RecordManager);
  // Frees whatever cache entries are left; never raises.
  ~TVEXDiskBlobManager();
  TVEXDiskBlobManager(const TVEXDiskBlobManager&) = delete;
  TVEXDiskBlobManager& operator=(const TVEXDiskBlobManager&) = delete;

  TVEXBTreeBlobPageIndex& BlobPageIndex() { return FBlobPageIndex; }
  // 20150 "Blob cache not released" while cache entries exist.
  void CheckReleased() const;
  size_t CacheCount() const { return FBlobCacheList.size(); }

  void LoadMetadata(TVEXStream& Stream);
  void SaveMetadata(TVEXStream& Stream) const;
  void CreateBlobPageIndex() VEX_REQUIRES(LPageManager->DatabaseLock());

  // The field's value into its cache entry, when it has none and a valid id.
  void ReadBlob(int32_t SessionID, uint8_t* RecordBuffer, int32_t FieldNo)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // Stores a modified cache entry: the old value goes, the new one is stored
  // (nothing for an empty value), the id is written and the entry freed.
  void WriteBlob(int32_t SessionID, uint8_t* RecordBuffer, int32_t FieldNo)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  void WriteBlobs(int32_t SessionID, uint8_t* RecordBuffer)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // Removes the stored value of a record that is going away (id kept).
  void DeleteBlob(int32_t SessionID, uint8_t* RecordBuffer, int32_t FieldNo)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  void DeleteBlobs(int32_t SessionID, uint8_t* RecordBuffer)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // The value's compressed bytes to Stream and its sizes to the descriptor;
  // nothing for a null field; 20162 "Cannot read BLOB field value" when a
  // non-null field has no value.
  void CopyBlobFromRecordBufferToStream(int32_t SessionID, uint8_t* RecordBuffer, int32_t FieldNo,
                                        TVEXBLOBDescriptor& BLOBDescriptor, TVEXStream& Stream)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  // A written compressed-BLOB stream becomes the field's modified value;
  // nothing when Stream is not Modified. The null bit follows Stream's size.
  void CopyBlobFromStreamToRecordBuffer(uint8_t* RecordBuffer, int32_t FieldNo,
                                        TVEXCompressedBLOBStream& Stream);
  // Frees the field's cache entry, a modified one only with ForceClear.
  void ClearBlobInRecordBuffer(uint8_t* RecordBuffer, int32_t FieldNo, bool ForceClear);
  // The compressed bytes without decompressing; pBlobData points into the
  // cache entry (nullptr for a null field). 20291 "Cannot read BLOB field
  // value" when a non-null field has no value.
  void GetDirectBlobInfoFromRecordBuffer(int32_t SessionID, uint8_t* RecordBuffer, int32_t FieldNo,
                                         TVEXBLOBDescriptor& BLOBDescriptor,
                                         const uint8_t*& pBlobData, int64_t& CompressedSize)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  void SetDirectBlobInfoFromRecordBuffer(uint8_t* RecordBuffer, int32_t FieldNo,
                                         const TVEXBLOBDescriptor& BLOBDescriptor,
                                         const uint8_t* pBlobData, int64_t CompressedSize);

  // Deletes the values of every record, then empties the index.
  void Empty(int32_t SessionID) VEX_REQUIRES(LPageManager->DatabaseLock());
  void Delete(int32_t SessionID) VEX_REQUIRES(LPageManager->DatabaseLock());

  // The field's cache entry, nullptr when none (or a handle not issued).
  TVEXDiskBLOBCache* CacheOf(const uint8_t* RecordBuffer, int32_t FieldNo) const;
  static TVEXPageItemID BlobIDOf(const uint8_t* RecordBuffer, int32_t Offset);

 private:
  int32_t OffsetOf(int32_t FieldNo) const;
  bool IsBlobField(int32_t FieldNo) const;
  TVEXDiskBLOBCache& NewCache(uint8_t* RecordBuffer, int32_t FieldNo);
  void FreeCache(uint8_t* RecordBuffer, int32_t FieldNo);

  TVEXPageItemID StoreSmall(int32_t SessionID, const TVEXDiskBLOBCache& Cache)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  void ReadSmall(int32_t SessionID, TVEXPageItemID ID, TVEXDiskBLOBCache& Cache)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  void DeleteSmall(int32_t SessionID, TVEXPageItemID ID) VEX_REQUIRES(LPageManager->DatabaseLock());
  TVEXPageItemID StoreLarge(int32_t SessionID, const TVEXDiskBLOBCache& Cache)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  void ReadLarge(int32_t SessionID, TVEXPageItemID ID, TVEXDiskBLOBCache& Cache)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  void DeleteLarge(int32_t SessionID, TVEXPageItemID ID) VEX_REQUIRES(LPageManager->DatabaseLock());
  // The data pages and the page-list pages of a large value, checked
  // against the file (20162 for a list that cannot be right).
  void ReadPageList(int32_t SessionID, int32_t FirstPageNo, std::vector<int32_t>& DataPages,
                    std::vector<int32_t>& ListPages, int64_t& StoredSize)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  bool LooksLarge(int32_t SessionID, TVEXPageItemID ID) VEX_REQUIRES(LPageManager->DatabaseLock());
  void ReadStored(int32_t SessionID, TVEXPageItemID ID, TVEXDiskBLOBCache& Cache)
      VEX_REQUIRES(LPageManager->DatabaseLock());
  void DeleteStored(int32_t SessionID, TVEXPageItemID ID)
      VEX_REQUIRES(LPageManager->DatabaseLock());

  TVEXDiskPageManager* LPageManager;
  TVEXBaseFieldManager* LFieldManager;
  TVEXDiskRecordManager* LRecordManager;
  std::map<uint32_t, std::unique_ptr<TVEXDiskBLOBCache>> FBlobCacheList;
  uint32_t FLastHandle = 0;
  TVEXBTreeBlobPageIndex FBlobPageIndex;
};

}  // namespace vex
