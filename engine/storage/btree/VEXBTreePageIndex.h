// The two page indexes of a disk table: B-trees (VEXBTree.h) keyed by a page
// number of the table, each entry carrying a 16-bit count.
//   - TVEXBTreeRecordPageIndex: every record page with the number of records
//     on it. The record manager finds a page with a free slot, walks its
//     record pages in page-number order, maps record numbers to (page, slot
//     ordinal) and back, and checks the stored record count with it.
//   - TVEXBTreeBlobPageIndex: every shared BLOB page with the bytes allocated
//     on it, to find a page with room for a new value.
// Invariant: a page is in an index exactly while its count is not 0 (a count
// reaching 0 removes the entry). Entries are 6 bytes in leaves (page number,
// count) and 8 in inner pages (page number, child page number).
//
// The tree pages belong to the table's page manager and change in the
// session's change set with the table's other pages; the root page number is
// kept by the owning manager in the table's metadata.
//
// Threads: no locks. REQUIRES: the caller holds the database lock.
#pragma once

#include <cstdint>

#include "storage/btree/VEXBTree.h"

namespace vex {

class TVEXBTreePageIndex {
 public:
  explicit TVEXBTreePageIndex(TVEXPageManager* PageManager);
  virtual ~TVEXBTreePageIndex() = default;
  TVEXBTreePageIndex(const TVEXBTreePageIndex&) = delete;
  TVEXBTreePageIndex& operator=(const TVEXBTreePageIndex&) = delete;

  // -1 while there is no tree.
  int32_t RootPageNo() const { return FRootPageNo; }
  TVEXPageKeyRef& KeyRef() { return FKeyRef; }
  TVEXPageManager* PageManager() const { return LPageManager; }

  // Whether a page whose stored value is Value can take Size more.
  virtual bool HasRoomOnPage(uint16_t Value, int32_t Size) = 0;

  // An empty root leaf (page type 12) in the session.
  void CreateIndex(int32_t SessionID);
  // Frees every page including the root; RootPageNo becomes -1.
  void DropIndex(int32_t SessionID);
  // Frees the pages below the root and empties the root.
  void EmptyIndex(int32_t SessionID);
  // Takes a stored root page number; reads nothing.
  void OpenIndex(int32_t aRootPageNo) { FRootPageNo = aRootPageNo; }
  // The integrity walk of the whole tree (see VEXBTree.h).
  void CheckIntegrity(int32_t SessionID);

 protected:
  TVEXBTreePagePtr RootPage(int32_t SessionID, int32_t NoRootCode, const char* Message);
  // 20115 / 20116 without a root.
  bool FirstEntryPosition(int32_t SessionID, TVEXKeyPath& Position);
  bool LastEntryPosition(int32_t SessionID, TVEXKeyPath& Position);
  bool NextEntryPosition(int32_t SessionID, TVEXKeyPath& Position);
  bool PriorEntryPosition(int32_t SessionID, TVEXKeyPath& Position);
  // The entry of that page; 20117 without a root.
  bool FindPage(int32_t SessionID, int32_t PageNo, TVEXKeyPath& Position);
  uint16_t GetValueAtPosition(int32_t SessionID, const TVEXKeyPath& Position);
  int32_t GetPageNoAtPosition(int32_t SessionID, const TVEXKeyPath& Position);
  void SetValueAtPosition(int32_t SessionID, const TVEXKeyPath& Position, uint16_t Value);
  // Looks only at the last leaf (from its end) and the first leaf (from its
  // start) for a page whose value HasRoomOnPage for Size.
  bool FindPageWithRoom(int32_t SessionID, int32_t Size, int32_t& PageNo);
  // Adds Size to the page's value, entering the page when it is not in the
  // index. 20118 without a root, 20106 when the page has no room.
  void AddToPage(int32_t SessionID, int32_t Size, int32_t PageNo);
  // The page's value becomes NewValue (NewValue >= 0) or value - Size; at 0
  // the page leaves the index. 20110 without a root, 20111 for a page not in
  // the index, 20112 for a value of 0 with NewValue < 0.
  void SubtractFromPage(int32_t SessionID, int32_t Size, int32_t NewValue, int32_t PageNo);

 private:
  // Looks at up to n - 1 entries (one when n is 1) of the leaf the path ends
  // in, from its end backwards or from its start forwards.
  bool FindInEdgeLeaf(int32_t SessionID, const TVEXKeyPath& Position, bool FromEnd, int32_t Size,
                      int32_t& PageNo);

  int32_t FRootPageNo = -1;
  TVEXPageKeyRef FKeyRef;
  TVEXPageManager* LPageManager;
};

class TVEXBTreeRecordPageIndex : public TVEXBTreePageIndex {
 public:
  using TVEXBTreePageIndex::TVEXBTreePageIndex;

  int32_t MaxRecordsOnPage() const { return FMaxRecordsOnPage; }
  void SetMaxRecordsOnPage(int32_t Value) { FMaxRecordsOnPage = Value; }

  bool HasRoomOnPage(uint16_t Value, int32_t Size) override;

  bool FindPageForNewRecord(int32_t SessionID, int32_t& PageNo) {
    return FindPageWithRoom(SessionID, 1, PageNo);
  }
  void AddRecord(int32_t SessionID, int32_t PageNo, int32_t AddCount) {
    AddToPage(SessionID, AddCount, PageNo);
  }
  // The page's count becomes NewItemCount, or count - 1 when it is negative.
  void DeleteRecord(int32_t SessionID, int32_t PageNo, int32_t NewItemCount) {
    SubtractFromPage(SessionID, 1, NewItemCount, PageNo);
  }
  // The lowest / highest record page; false for an empty index.
  bool GetFirstRecordPage(int32_t SessionID, int32_t& PageNo);
  bool GetLastRecordPage(int32_t SessionID, int32_t& PageNo);
  // The next higher / lower record page; false at the end. 20104 / 20105
  // "Invalid page number" when CurrentPageNo is not in the index.
  bool GetNextRecordPage(int32_t SessionID, int32_t CurrentPageNo, int32_t& NextPageNo);
  bool GetPriorRecordPage(int32_t SessionID, int32_t CurrentPageNo, int32_t& PriorPageNo);
  // Record numbers from 0 in physical order (pages ascending, then slot
  // order). 20113 beyond the last record; 20114 for a page not in the index.
  void GetRecordByRecNo(int32_t SessionID, int64_t RecNo, int32_t& PageNo, int32_t& RecNoOnPage);
  void GetRecNoByRecord(int32_t SessionID, int32_t PageNo, int32_t RecNoOnPage, int64_t& RecNo);
  // 20292 when the counts do not add up to StoredRecordCount.
  void Validate(int32_t SessionID, int64_t StoredRecordCount);

 private:
  int32_t FMaxRecordsOnPage = 0;
};

class TVEXBTreeBlobPageIndex : public TVEXBTreePageIndex {
 public:
  using TVEXBTreePageIndex::TVEXBTreePageIndex;

  bool HasRoomOnPage(uint16_t Value, int32_t Size) override;

  bool FindPageForNewBlob(int32_t SessionID, int32_t BlobSize, int32_t& PageNo) {
    return FindPageWithRoom(SessionID, BlobSize, PageNo);
  }
  void AddBlob(int32_t SessionID, int32_t BlobSize, int32_t PageNo) {
    AddToPage(SessionID, BlobSize, PageNo);
  }
  void DeleteBlob(int32_t SessionID, int32_t BlobSize, int32_t PageNo) {
    SubtractFromPage(SessionID, BlobSize, -1, PageNo);
  }
  // The page's allocated bytes; -1 when it is not in the index.
  int32_t GetBlobPageAllocatedSpace(int32_t SessionID, int32_t PageNo);
};

}  // namespace vex
