// The index manager of one open table, and the two abstract contracts it works
// with: the index object (TVEXIndex, implemented by the B-tree index) and the
// record store (TVEXBaseRecordManager, implemented by the disk, memory and
// temporary engines).
//
// The manager keeps the table's index definitions, opens index objects on
// demand, creates permanent indexes and per-session temporary ones (made for
// one search or order and never stored), keeps every index in step with record
// inserts, updates and deletes, rebuilds temporary indexes that have fallen
// behind the table, and moves a cursor along an index.
//
// Design notes
//   1. At most one open index object per index id (FOpenIndexList); it exists
//      only while it is in that list, apart from the short-lived object that
//      builds a new index. Every open object has a definition in FIndexDefs.
//   2. A definition's TableState is the record manager's TableState at which
//      its index was last complete. Record changes advance both together;
//      SynchronizeTemporaryIndexes rebuilds a temporary index whose state
//      differs, and only that.
//   3. A failure while an index is built leaves no definition for it (the
//      database's object id is spent).
//   4. FSynchronizingTemporaryIndexes is set exactly while
//      SynchronizeTemporaryIndexes rebuilds an index, so the rebuild's own
//      table scan does not start another synchronisation. It guards re-entry
//      on one thread, not threads.
//
// Threads: no lock of its own; every caller holds the owning database's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "storage/VEXManagerLinks.h"
#include "storage/VEXMetaDefCollections.h"
#include "storage/VEXPage.h"

namespace rtl {
class TStringList;
}

namespace vex {

class TVEXIndexPositionCache;
class TVEXRecordBitmap;
class TVEXScanSearchCondition;
class TVEXStream;

enum TVEXGetRecordMode : uint8_t { grmCurrent, grmNext, grmPrior };
enum TVEXGetRecordResult : uint8_t { grrOK, grrBOF, grrEOF, grrError };

// One step of a move through a table or an index, and its result.
struct TVEXNavigationInfo {
  TVEXGetRecordMode GetRecordMode = grmCurrent;
  int32_t IndexID = -1;
  TVEXPageItemID RecordID{-1, 0};
  // The memory record the step reads into.
  uint8_t* RecordBuffer = nullptr;
  // Before the first / after the last record.
  bool FirstPosition = false;
  bool LastPosition = false;
  TVEXGetRecordResult GetRecordResult = grrOK;

  // A next or prior step ran off an end: EOF forward, BOF backward, and the
  // position becomes that end, so the opposite step reads the edge record.
  void SetEndOfMove() {
    const bool forward = GetRecordMode == grmNext;
    GetRecordResult = forward ? grrEOF : grrBOF;
    LastPosition = forward;
    FirstPosition = !forward;
  }
};

// The record store of one table (one per open table, owned by the table data).
class TVEXBaseRecordManager {
 public:
  virtual ~TVEXBaseRecordManager() = default;

  int64_t RecordCount() const { return FRecordCount; }
  // The table's change counter: every successful add, update and delete
  // advances it by one.
  int32_t TableState() const { return FTableState; }
  int32_t RecordBufferSize() const { return FRecordBufferSize; }

  // Removes every record.
  virtual void Empty(int32_t SessionID) = 0;
  // Stores a memory record and gives its new id.
  virtual bool AddRecord(int32_t SessionID, const uint8_t* RecordBuffer,
                         TVEXPageItemID& RecordID) = 0;
  virtual bool UpdateRecord(int32_t SessionID, const uint8_t* RecordBuffer,
                            TVEXPageItemID RecordID) = 0;
  virtual bool DeleteRecord(int32_t SessionID, TVEXPageItemID& RecordID) = 0;
  // Physical order: grmCurrent reads the record of RecordID, grmNext and
  // grmPrior move from it (from before the first with FirstPosition, after
  // the last with LastPosition). Copies the memory record into RecordBuffer
  // and sets GetRecordResult: grrOK, grrBOF, grrEOF, or grrError when the
  // record of RecordID no longer exists.
  virtual void GetRecordBuffer(int32_t SessionID, TVEXNavigationInfo& NavigationInfo) = 0;
  // 0 equal, positive when RecordID1 comes later in physical order.
  virtual int32_t CompareRecordID(TVEXPageItemID RecordID1, TVEXPageItemID RecordID2) = 0;
  // An estimate of the record's 1-based position in physical order.
  virtual int64_t GetApproximateRecNo(int32_t SessionID, TVEXPageItemID RecordID) = 0;

 protected:
  int64_t FRecordCount = 0;
  int32_t FTableState = 0;
  int32_t FRecordBufferSize = 0;
};

class TVEXBaseIndexManager;

// An index's opaque position of one entry, and the state of a running
// FindRecord scan; each index defines its own. Owners free them by destroying
// them.
class TVEXIndexPosition {
 public:
  virtual ~TVEXIndexPosition() = default;
};

class TVEXIndexSearchInfo {
 public:
  virtual ~TVEXIndexSearchInfo() = default;
};

// The abstract index object. Record buffers are memory records of the table.
class TVEXIndex {
 public:
  // No definition yet.
  explicit TVEXIndex(TVEXBaseIndexManager* aIndexManager);
  virtual ~TVEXIndex();
  TVEXIndex(const TVEXIndex&) = delete;
  TVEXIndex& operator=(const TVEXIndex&) = delete;

  // The index's own copy of its definition; nullptr before CreateIndex or
  // OpenIndex.
  TVEXIndexDef* IndexDef() const { return FIndexDef.get(); }
  TVEXBaseIndexManager* IndexManager() const { return FIndexManager; }

  // Base: keeps a copy of aIndexDef (nothing when it is its own definition).
  // An index creates its storage, records its root page in aIndexDef's and
  // its own RootPageNo, and with a Cursor fills itself with every record of
  // the table (read through a cursor of its own on the same table); without
  // one it works in the system session (-2) and stays empty.
  virtual void CreateIndex(TVEXManagerCursor* Cursor, TVEXIndexDef& aIndexDef);
  // Frees all pages of the index.
  virtual void DropIndex(int32_t SessionID) = 0;
  // Removes every entry, keeping an empty root.
  virtual void EmptyIndex(int32_t SessionID) = 0;
  // Base: replaces its definition by a copy of aIndexDef.
  virtual void OpenIndex(const TVEXIndexDef& aIndexDef);
  // Drops the index and creates it again from the table's current records.
  virtual void RebuildTemporaryIndex(TVEXManagerCursor* Cursor) = 0;
  // Moves to the next (grmNext) or prior (grmPrior) entry in index order, from
  // before the first (FirstPosition), after the last (LastPosition), or the
  // entry of the current record (from IndexPositionCache when it holds this
  // index, that record and TableState, else searched). On success reads the
  // record through the record manager, grrOK, both flags cleared, the cache
  // filled; past the end grrEOF with LastPosition, before the start grrBOF
  // with FirstPosition; a current entry that cannot be found grrError.
  virtual void GetRecordBuffer(int32_t SessionID, TVEXNavigationInfo& NavigationInfo,
                               TVEXIndexPositionCache* IndexPositionCache, int32_t TableState) = 0;
  // For a current record that no longer exists: positions by the key of
  // NavigationInfo's record buffer on the nearest entry in the direction of
  // the move and reads that record.
  virtual void GetClosestRecordBuffer(int32_t SessionID, TVEXNavigationInfo& NavigationInfo,
                                      TVEXIndexPositionCache* IndexPositionCache,
                                      int32_t TableState) = 0;
  virtual std::unique_ptr<TVEXIndexPosition> CreateIndexPosition() = 0;
  // The position of a record's entry; false when not found.
  virtual bool GetIndexPosition(int32_t SessionID, TVEXPageItemID RecordID,
                                const uint8_t* RecordBuffer, TVEXIndexPosition& IndexPosition) = 0;
  virtual int32_t CompareRecordPositionsInIndex(const TVEXIndexPosition& Position1,
                                                const TVEXIndexPosition& Position2) = 0;
  // Record number in index order and back.
  virtual int64_t GetRecNoByRecordID(int32_t SessionID, TVEXPageItemID RecordID,
                                     const uint8_t* RecordBuffer) = 0;
  virtual TVEXPageItemID GetRecordIDByRecNo(int32_t SessionID, int64_t RecNo) = 0;
  // Hides in Bitmap every visible entry whose first DistinctFieldCount key
  // columns equal those of the last visible entry kept.
  virtual void ApplyDistinctToRecordBitmap(int32_t SessionID, TVEXRecordBitmap& Bitmap,
                                           int32_t DistinctFieldCount) = 0;
  virtual std::unique_ptr<TVEXIndexSearchInfo> CreateSearchInfo() = 0;
  // The next record, in the given direction, whose key lies between the two
  // scan conditions; Restart begins a new scan.
  virtual bool FindRecord(int32_t SessionID, bool Restart, bool GoForward,
                          const TVEXScanSearchCondition* StartScanCondition,
                          const TVEXScanSearchCondition* EndScanCondition, uint8_t* RecordBuffer,
                          TVEXPageItemID& RecordID, TVEXIndexSearchInfo& SearchInfo) = 0;
  // Two records by the index's first IndexFieldCount columns (0 equal).
  virtual int32_t CompareRecordBuffersByIndex(const uint8_t* Buffer1, const uint8_t* Buffer2,
                                              int32_t IndexFieldCount) = 0;
  // Which of two conditions on the same key bounds a range more tightly.
  virtual int32_t CompareConditions(const TVEXScanSearchCondition& Condition1,
                                    const TVEXScanSearchCondition& Condition2) = 0;
  virtual int64_t GetApproxRangeRecordCount(int32_t SessionID, int64_t TableRecordCount,
                                            const TVEXScanSearchCondition* RangeCondition1,
                                            const TVEXScanSearchCondition* RangeCondition2) = 0;
  // A unique or primary index: false when it holds an entry with the record's
  // key; any other index: true.
  virtual bool CanInsertRecord(int32_t SessionID, const uint8_t* RecordBuffer) = 0;
  // True when the key did not change, else CanInsertRecord of the new record.
  virtual bool CanUpdateRecord(int32_t SessionID, const uint8_t* OldRecordBuffer,
                               const uint8_t* NewRecordBuffer) = 0;
  // Add, remove or move the entry of the cursor's current record.
  virtual void InsertRecord(TVEXManagerCursor& Cursor) = 0;
  virtual void DeleteRecord(TVEXManagerCursor& Cursor) = 0;
  virtual void UpdateRecord(TVEXManagerCursor& Cursor, bool BeforeNewRecordIsStored) = 0;
  virtual int32_t GetMaxEntriesPerPage() = 0;
  virtual void GetRecordIDByIndexPosition(int32_t SessionID, const TVEXIndexPosition& IndexPos,
                                          TVEXPageItemID& RecordID) = 0;

 protected:
  TVEXBaseIndexManager* FIndexManager;
  std::unique_ptr<TVEXIndexDef> FIndexDef;
};

// Makes the index objects of a manager: the table data passes the B-tree
// index's, which every index is whatever its definition's IndexType says.
using TVEXIndexFactory = std::function<std::unique_ptr<TVEXIndex>(TVEXBaseIndexManager&)>;

// REQUIRES: every method is called with the owning database's lock held.
class TVEXBaseIndexManager {
 public:
  // Empty definitions and open list. Temporary indexes live in
  // TempPageManager, permanent ones in the table's page manager.
  TVEXBaseIndexManager(TVEXManagedTable& aTableData, TVEXPageManager* TempPageManager,
                       TVEXIndexFactory IndexFactory);
  // Destroys every open index object, then the definitions.
  virtual ~TVEXBaseIndexManager();
  TVEXBaseIndexManager(const TVEXBaseIndexManager&) = delete;
  TVEXBaseIndexManager& operator=(const TVEXBaseIndexManager&) = delete;

  TVEXManagedTable& TableData() const { return FTableData; }
  TVEXIndexDefs& IndexDefs() { return FIndexDefs; }
  const TVEXIndexDefs& IndexDefs() const { return FIndexDefs; }
  // The table's page manager, asked of the table each time (a temporary
  // table makes its own only when it is created).
  TVEXPageManager* PageManager() const { return FTableData.GetPageManager(); }
  // The temporary page manager for an index whose definition is temporary,
  // else the table's.
  TVEXPageManager* GetPageManager(const TVEXIndex& Index) const;

  // The definitions' stream form (temporary ones are never written).
  virtual void LoadMetadata(TVEXStream& Stream);
  virtual void SaveMetadata(TVEXStream& Stream) const;
  // The definitions become a copy of aIndexDefs (10424 for a duplicate name).
  virtual void CreateIndexDefs(const TVEXIndexDefs& aIndexDefs);

  // The definitions' search (TVEXIndexDefs::FindIndex).
  int32_t FindIndex(const rtl::TStringList* FieldNames, const rtl::TStringList* AscDescList,
                    const rtl::TStringList* CaseSensitivityList, int32_t SessionID,
                    const TVEXFieldDefs& FieldDefs) const;
  bool IsIndexExists(const rtl::TStringList* FieldNames, const rtl::TStringList* AscDescList,
                     const rtl::TStringList* CaseSensitivityList, int32_t SessionID,
                     const TVEXFieldDefs& FieldDefs) const;

  // Gives IndexDef a new object id of the database (the caller's definition
  // changes), appends a copy and builds the index (filled from the table's
  // records through Cursor when given). Returns the new id; a failure leaves
  // no definition behind.
  int32_t CreateIndex(TVEXManagerCursor* Cursor, TVEXIndexDef& IndexDef);
  // A temporary, non-unique B-tree index of the cursor's session on the listed
  // columns, named "TEMPORARY_INDEX_" and a new GUID, stamped with the record
  // manager's TableState and filled. Returns its id.
  int32_t CreateTemporaryIndex(TVEXManagerCursor& Cursor, const rtl::TStringList& FieldNamesList,
                               const rtl::TStringList& AscDescList,
                               const rtl::TStringList& CaseSensitivityList);
  // FindIndex for the cursor's fields and session; when none serves, a
  // temporary index (IsCreated true).
  int32_t FindOrCreateIndex(TVEXManagerCursor& Cursor, const rtl::TStringList& FieldNamesList,
                            const rtl::TStringList& AscDescList,
                            const rtl::TStringList& CaseSensitivityList, bool& IsCreated);
  // Builds the index of every definition in list order (a new table).
  void CreateIndexesByIndexDefs(TVEXManagerCursor* Cursor);

  // The open object of an index id, or nullptr.
  TVEXIndex* FindOpenIndex(int32_t IndexID) const;
  // The open object, opened now when it is not; 20018 "Index not found" for an
  // id without a definition.
  TVEXIndex* OpenIndex(int32_t IndexID);
  // Destroys the open object of the id; nothing when it is not open.
  void CloseIndex(int32_t IndexID);

  // Opens the index, frees its pages, closes it and deletes its definition
  // (20018 for an unknown id).
  void DropIndex(int32_t SessionID, int32_t IndexID);
  void DropAllIndexes(int32_t SessionID);
  // Drops the temporary indexes of every session.
  void DropTemporaryIndexes(int32_t SessionID);
  // Opens the index, empties it and closes it.
  void EmptyIndex(int32_t SessionID, int32_t IndexID);
  void EmptyAllIndexes(int32_t SessionID);

  // One step along the index NavigationInfo.IndexID. When NavigationInfo is on
  // a record, that record is read again first; when it is gone, the index
  // positions on the closest entry instead.
  void GetRecordBuffer(int32_t SessionID, TVEXNavigationInfo& NavigationInfo,
                       TVEXIndexPositionCache* IndexPositionCache, int32_t TableState);
  // The cursor's current record reaches every index (permanent and temporary,
  // of every session) in definition order, and each definition's TableState
  // advances with it (for an update only once the new record is stored).
  void InsertRecord(TVEXManagerCursor& Cursor);
  void UpdateRecord(TVEXManagerCursor& Cursor, bool BeforeNewRecordIsStored);
  // Nothing when the cursor's current record no longer exists.
  void DeleteRecord(TVEXManagerCursor& Cursor);
  // Rebuilds every temporary index whose TableState differs from the record
  // manager's; IsChanged tells whether any was. Returns at once (IsChanged
  // false) while a synchronisation runs.
  void SynchronizeTemporaryIndexes(TVEXManagerCursor& Cursor, bool& IsChanged);
  // Every index column naming FieldName (compared in the locale's lower case)
  // takes NewFieldName.
  void RenameField(std::string_view FieldName, std::string_view NewFieldName);

 private:
  void InternalCreateIndex(TVEXManagerCursor* Cursor, TVEXIndexDef& IndexDef);
  TVEXIndex* InternalOpenIndex(int32_t IndexID);

  TVEXManagedTable& FTableData;
  TVEXIndexDefs FIndexDefs;
  std::vector<std::unique_ptr<TVEXIndex>> FOpenIndexList;
  TVEXPageManager* FTemporaryPageManager;
  TVEXIndexFactory FIndexFactory;
  bool FSynchronizingTemporaryIndexes = false;
};

}  // namespace vex
