// The table index: one B+-tree (VEXBTree.h) per index definition, whose leaf
// entries are (short key of a record, record id). Every table index of every
// storage engine is one of these.
//
// The index owns no pages: it reaches its tree through the root page number
// of its definition (RootPageNo, fixed for the tree's life) and fetches pages
// from the page manager its index manager names (the table's, or the table's
// temporary page manager for a temporary index). Every operation fetches the
// root, works on a fresh key path, and gives back every page and frees every
// key buffer and path on every way out.
//
// Positions handed out (CreateIndexPosition, the cursor's position cache, the
// state of a FindRecord scan) are key paths naming a leaf entry. They stay
// meaningful only while the tree is unchanged; callers compare the table state
// before trusting a cached one.
//
// Threads: no locks. REQUIRES: the table layer holds the database lock for
// every call. The key reference holds per-call state (compared column count,
// partial-compare lengths, the last record a key was made from), so one
// operation at a time runs on an index object.
#pragma once

#include <cstdint>
#include <memory>

#include "storage/VEXIndexManager.h"
#include "storage/VEXManagerLinks.h"
#include "storage/search/VEXScanConditions.h"
#include "storage/btree/VEXBTree.h"

namespace vex {

// Every record of a table in physical order, read through a cursor of the
// layer above on the same table: how a new index is filled from the records
// that exist. The component layer implements it; tests fake it.
class TVEXIndexRecordScan {
 public:
  virtual ~TVEXIndexRecordScan() = default;
  // Moves to the next record (the first on the first call); false after the
  // last. Read failures raise.
  virtual bool Next() = 0;
  // The scan's own cursor, on the record Next moved to.
  virtual TVEXManagerCursor& Cursor() = 0;
};

class TVEXIndexRecordScanner {
 public:
  virtual ~TVEXIndexRecordScanner() = default;
  // A scan over the table of Cursor, in Cursor's session; Cursor itself does
  // not move.
  virtual std::unique_ptr<TVEXIndexRecordScan> OpenRecordScan(TVEXManagerCursor& Cursor) = 0;
};

// The state of a running FindRecord scan.
class TVEXBTreeSearchInfo : public TVEXIndexSearchInfo {
 public:
  bool SearchForward = false;
  bool Started = false;
  // The last entry the scan may return; nil for none.
  std::unique_ptr<TVEXKeyPath> EndPosition;
  TVEXKeyPath CurrentPosition;
};

class TVEXBTreeRecordIndex : public TVEXIndex {
 public:
  // Scanner fills a new index from the table's records when CreateIndex is
  // given a cursor; without one such a CreateIndex raises 20036.
  explicit TVEXBTreeRecordIndex(TVEXBaseIndexManager* aIndexManager,
                                TVEXIndexRecordScanner* Scanner = nullptr);
  ~TVEXBTreeRecordIndex() override;

  TVEXRecordKeyRef* KeyRef() const { return FKeyRef.get(); }
  TVEXPageManager& PageManager() const;

  // An empty root leaf in the cursor's session (-2 without a cursor), its page
  // number stored in aIndexDef and the own copy; then, with a cursor, one
  // insert per record of the table in physical order. Key errors (20043,
  // 20044, 20045, 20295) and 20026 for keys too long for two entries a page.
  void CreateIndex(TVEXManagerCursor* Cursor, TVEXIndexDef& aIndexDef) override;
  // 20119 without a root.
  void DropIndex(int32_t SessionID) override;
  // 20120 without a root.
  void EmptyIndex(int32_t SessionID) override;
  void OpenIndex(const TVEXIndexDef& aIndexDef) override;
  void RebuildTemporaryIndex(TVEXManagerCursor* Cursor) override;
  // 20123 without a root; 20053 for grmCurrent; 20035 when a step from a
  // position found again by the record's key does not move on in index order
  // (a damaged tree holding an entry twice), so no walk goes round for ever.
  void GetRecordBuffer(int32_t SessionID, TVEXNavigationInfo& NavigationInfo,
                       TVEXIndexPositionCache* IndexPositionCache, int32_t TableState) override;
  // 20293 without a root. Entries with the vanished record's key are skipped.
  void GetClosestRecordBuffer(int32_t SessionID, TVEXNavigationInfo& NavigationInfo,
                              TVEXIndexPositionCache* IndexPositionCache,
                              int32_t TableState) override;
  std::unique_ptr<TVEXIndexPosition> CreateIndexPosition() override;
  // 20124 without a root.
  bool GetIndexPosition(int32_t SessionID, TVEXPageItemID RecordID, const uint8_t* RecordBuffer,
                        TVEXIndexPosition& IndexPosition) override;
  // 20051 / 20052 for positions of different tree shapes.
  int32_t CompareRecordPositionsInIndex(const TVEXIndexPosition& Position1,
                                        const TVEXIndexPosition& Position2) override;
  // From 1 in index order; -1 when the record is not in the index.
  int64_t GetRecNoByRecordID(int32_t SessionID, TVEXPageItemID RecordID,
                             const uint8_t* RecordBuffer) override;
  // 20074 on an empty index, 20075 beyond the last entry.
  TVEXPageItemID GetRecordIDByRecNo(int32_t SessionID, int64_t RecNo) override;
  void ApplyDistinctToRecordBitmap(int32_t SessionID, TVEXRecordBitmap& Bitmap,
                                   int32_t DistinctFieldCount) override;
  std::unique_ptr<TVEXIndexSearchInfo> CreateSearchInfo() override;
  // 20078 for a restart of a started scan.
  bool FindRecord(int32_t SessionID, bool Restart, bool GoForward,
                  const TVEXScanSearchCondition* StartScanCondition,
                  const TVEXScanSearchCondition* EndScanCondition, uint8_t* RecordBuffer,
                  TVEXPageItemID& RecordID, TVEXIndexSearchInfo& SearchInfo) override;
  int32_t CompareRecordBuffersByIndex(const uint8_t* Buffer1, const uint8_t* Buffer2,
                                      int32_t IndexFieldCount) override;
  // -1 when Condition1 is a lower bound (> or >=), 1 when an upper bound.
  int32_t CompareConditions(const TVEXScanSearchCondition& Condition1,
                            const TVEXScanSearchCondition& Condition2) override;
  // 20125 without a root. A missing condition leaves that end open.
  int64_t GetApproxRangeRecordCount(int32_t SessionID, int64_t TableRecordCount,
                                    const TVEXScanSearchCondition* RangeCondition1,
                                    const TVEXScanSearchCondition* RangeCondition2) override;
  // 20126 without a root (unique and primary indexes only).
  bool CanInsertRecord(int32_t SessionID, const uint8_t* RecordBuffer) override;
  bool CanUpdateRecord(int32_t SessionID, const uint8_t* OldRecordBuffer,
                       const uint8_t* NewRecordBuffer) override;
  // 20127 without a root.
  void InsertRecord(TVEXManagerCursor& Cursor) override;
  // 20027 when the record's entry is missing.
  void DeleteRecord(TVEXManagerCursor& Cursor) override;
  // 20250 when the entry of the record as read is missing.
  void UpdateRecord(TVEXManagerCursor& Cursor, bool BeforeNewRecordIsStored) override;
  int32_t GetMaxEntriesPerPage() override;
  // For a path of entry numbers only (from a bitmap number); 20068 when the
  // numbers leave the tree.
  void GetRecordIDByIndexPosition(int32_t SessionID, const TVEXIndexPosition& IndexPos,
                                  TVEXPageItemID& RecordID) override;

  // The integrity walk of the whole tree (see VEXBTree.h).
  void CheckIntegrity(int32_t SessionID);

 private:
  void BuildKeyRef();
  TVEXBTreePagePtr RootPage(int32_t SessionID, int32_t NoRootCode);
  TVEXMemBlock MakeShortKey(const uint8_t* RecordBuffer);
  TVEXPageItemID GetReferenceAtPosition(int32_t SessionID, const TVEXKeyPath& Position);
  bool FirstEntryPosition(int32_t SessionID, TVEXKeyPath& Position);
  bool LastEntryPosition(int32_t SessionID, TVEXKeyPath& Position);
  bool NextEntryPosition(int32_t SessionID, TVEXKeyPath& Position);
  bool PriorEntryPosition(int32_t SessionID, TVEXKeyPath& Position);
  // Reads the record the path names and fills the cache (step 3 of a move).
  void ReadAtPosition(int32_t SessionID, TVEXNavigationInfo& NavigationInfo,
                      const TVEXKeyPath& Position, TVEXIndexPositionCache* IndexPositionCache,
                      int32_t TableState);
  // 20035 unless Position lies beyond the record being left (see the .cpp).
  void CheckStepLeaves(int32_t SessionID, const TVEXNavigationInfo& NavigationInfo,
                       const TVEXKeyPath& Position);
  // FindByCondition with a scan condition's key, compared column count and
  // partial compare, which are put back afterwards.
  bool FindByScanCondition(int32_t SessionID, bool First, const TVEXScanSearchCondition& Condition,
                           bool PartialCompare, int32_t CompareFieldCount, TVEXKeyPath& Position);

  std::unique_ptr<TVEXRecordKeyRef> FKeyRef;
  TVEXIndexRecordScanner* FScanner;
};

}  // namespace vex
