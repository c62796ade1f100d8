// The table search: every search in a cursor's view (the next or previous
// record of a filtered, ranged or DISTINCT view, Locate, FindKey, and the
// build of the view bitmap) goes through FindRecordInView, which plans it as
// a small query optimiser and runs one of four scans.
//
// Design notes
//   1. Planning. The restrictions become one condition array: the key
//      condition, the expressions (Locate's, the filter, the SQL filter), the
//      range and the DISTINCT step. The expressions derive index conditions
//      from their comparisons; the conditions of each index are merged by the
//      index's own key comparison, and a contradiction ends the search with
//      nothing found before a single record is read.
//   2. Choice. An equality on a unique one-column index, or the only index
//      condition when it is on the cursor's index, is taken without
//      estimating. Otherwise every index condition (or adjacent pair on one
//      index, a start and an end) is priced in pages read:
//        n·E/D                  the index entries of the range
//        + n·R/D                when records must be read (a restriction is
//                               left that the range does not decide, or the
//                               cursor runs in another index's order)
//        + n·E/D                once more in another index's order
//      against m·R/D for the rest of the table in physical order (m in the
//      order of an index: a page per record), where n is the index's estimate
//      of the range, E an index entry, R a disk record, D a page's data area.
//      A table without page geometry (D = 0) prices in entries and records
//      read instead, so that an index can still be chosen.
//   3. While the scan runs, the nodes behind the chosen conditions are out of
//      their expressions (the index decides them); they go back on every way
//      out of the search, so the expressions are the same after any search.
//      A node named by both chosen conditions goes back once.
//   4. Strategies, by the cursor's order: no range: every record in the
//      cursor's order; the range's own index: the range in index order;
//      physical order: the whole range, keeping the match nearest in
//      record-id order; another index: the whole range, keeping the match
//      nearest in that index's order.
//   5. A scan that began at the start of the view and saw all of it fills the
//      view bitmap as it goes and leaves it active; FillBitmap walks the whole
//      view on purpose and answers false.
//   6. A search never moves the cursor; it reads candidates into a buffer of
//      its own, and every buffer, position and search state it takes goes
//      with the scope that took it.
//
// Threads: FindRecordInView and BuildRecordBitmap take the database lock
// (the table's lock) for the whole search; the other members require it.
#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "storage/VEXTableData.h"
#include "storage/btree/VEXBTreeRecordIndex.h"

namespace vex {

// The state of one scan of FindRecordInView.
struct TVEXTableScan {
  TVEXCursor& Cursor;
  TVEXScanSearchConditionArray& Array;
  int32_t ScanConditionNo;
  int32_t ScanEndConditionNo;
  bool Restart;
  bool GoForward;
  TVEXPageItemID& FoundRecordID;
  TVEXRecordBitmap* Bitmap;
  bool FillBitmap;
  // Receives each candidate record; every expression of the array reads it.
  uint8_t* RecordBuffer;
  int32_t SessionID;

  const TVEXScanSearchCondition* Start() const {
    return ScanConditionNo >= 0 ? &Array[ScanConditionNo] : nullptr;
  }
  const TVEXScanSearchCondition* End() const {
    return ScanEndConditionNo >= 0 ? &Array[ScanEndConditionNo] : nullptr;
  }
};

namespace {

// The expression object keeps chosen condition numbers as a set of 0..255.
constexpr int32_t kMaxChosenConditionNo = 255;

bool Chosen(int32_t ItemNo, int32_t ScanConditionNo, int32_t ScanEndConditionNo) {
  return ItemNo == ScanConditionNo || ItemNo == ScanEndConditionNo;
}

bool SameRecord(TVEXPageItemID A, TVEXPageItemID B) {
  return A.PageNo == B.PageNo && A.PageItemNo == B.PageItemNo;
}

// Takes the nodes of the chosen conditions out of their expressions and puts
// them back when the scope ends (design note 3). Numbers beyond what the
// expression object counts are not extracted at all, so nothing is given
// back that was never taken.
class TVEXExtractedNodes {
 public:
  TVEXExtractedNodes(TVEXScanSearchConditionArray& Array, int32_t ScanConditionNo,
                     int32_t ScanEndConditionNo)
      : FArray(Array), FStart(ScanConditionNo), FEnd(ScanEndConditionNo) {
    if (FStart > kMaxChosenConditionNo || FEnd > kMaxChosenConditionNo) return;
    // An extraction that fails half-way gives back what it took (a node
    // given back twice is one more equal conjunct; a lost one would widen
    // the filter).
    ScopeFailure giveBack([this]() noexcept { GiveBack(); });
    FArray.ExtractChosenConditionsFromExpressions(FStart, FEnd);
    FExtracted = true;
  }
  ~TVEXExtractedNodes() {
    if (FExtracted) GiveBack();
  }
  TVEXExtractedNodes(const TVEXExtractedNodes&) = delete;
  TVEXExtractedNodes& operator=(const TVEXExtractedNodes&) = delete;

 private:
  void GiveBack() noexcept {
    try {
      FArray.ReturnExtractedConditionsToExpressions(FStart, FEnd);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  }

  TVEXScanSearchConditionArray& FArray;
  int32_t FStart;
  int32_t FEnd;
  bool FExtracted = false;
};

}  // namespace

// --- FindRecordInView ------------------------------------------------------------

bool TVEXTableData::FindRecordInView(TVEXCursor& Cursor, TVEXBaseExpression* Expression,
                                     const TVEXScanSearchCondition* Condition, bool Restart,
                                     bool GoForward, TVEXPageItemID& FoundRecordID,
                                     TVEXRecordBitmap* Bitmap, bool FillBitmap) {
  TVEXLockGuard lock(FDatabaseLock);
  if (FRecordManager == nullptr) RaiseNilPointer(10015);
  if (FRecordManager->RecordCount() == 0) return false;
  const int32_t sessionID = Cursor.GetSessionID();

  if (Bitmap != nullptr && (FillBitmap || Bitmap->Outdated()))
    InitRecordBitmap(*Bitmap, Cursor.IndexID());
  // A bitmap of another kind than the cursor's order cannot answer for it.
  if (Bitmap != nullptr && Bitmap->Active() && !FillBitmap &&
      Bitmap->IndexBased() == (Cursor.IndexID() != -1))
    return FindRecordInBitmap(sessionID, Restart, Cursor.IndexID(), *Bitmap, FoundRecordID,
                              Cursor.CurrentRecordID, GoForward);

  TVEXScanSearchConditionArray array;
  BuildScanConditions(Cursor, array, GoForward, Expression, Condition);
  if (FIndexManager != nullptr)
    array.CreateIndexScanConditionsFromExpressions(FIndexManager->IndexDefs(), sessionID);
  bool isEmpty = false;
  OptimizeScanConditions(array, isEmpty);
  if (isEmpty) return false;

  int32_t scanConditionNo = -1;
  int32_t scanEndConditionNo = -1;
  // A restart walks the whole table, wherever the cursor stands.
  const TVEXPageItemID from = Restart ? TVEXPageItemID{-1, 0} : Cursor.CurrentRecordID;
  ChooseScanConditions(sessionID, array, Cursor.IndexID(), from, GoForward, Cursor.FilterRecord,
                       scanConditionNo, scanEndConditionNo);
  array.RemoveUnusedConditionsCreatedFromExpressions(scanConditionNo, scanEndConditionNo);

  TVEXMemBlock recordBuffer =
      TVEXMemBlock::AllocMem(std::max(FRecordManager->RecordBufferSize(), 1));
  for (int32_t i = 0; i < array.Count(); ++i)
    if (array[i].Expression != nullptr)
      array[i].Expression->AssignCursorBuffer(recordBuffer.As<uint8_t>(), false);

  bool found = false;
  {
    TVEXExtractedNodes extracted(array, scanConditionNo, scanEndConditionNo);
    TVEXTableScan scan{
        Cursor,        array,  scanConditionNo, scanEndConditionNo,         Restart,  GoForward,
        FoundRecordID, Bitmap, FillBitmap,      recordBuffer.As<uint8_t>(), sessionID};
    found = ScanView(scan);
  }

  if (Bitmap != nullptr && FillBitmap) Bitmap->SetActive(true);
  if (Restart && Bitmap != nullptr && Bitmap->Active() && Cursor.IsDistinctApplied() &&
      Cursor.IndexID() != -1)
    FIndexManager->OpenIndex(Cursor.IndexID())
        ->ApplyDistinctToRecordBitmap(sessionID, *Bitmap, Cursor.DistinctFieldCount);
  return found;
}

void TVEXTableData::BuildScanConditions(TVEXCursor& Cursor, TVEXScanSearchConditionArray& Array,
                                        bool GoForward, TVEXBaseExpression* Expression,
                                        const TVEXScanSearchCondition* Condition) {
  if (Condition != nullptr) {
    if (Cursor.IndexID() == -1)
      throw EVEXException(20258,
                          "No active index is set for Key search. Set Table.IndexName to the "
                          "index on search fields.");
    Array.AddCondition(*Condition);
  }
  for (TVEXBaseExpression* expression :
       {Expression, Cursor.FilterExpression, Cursor.SQLFilterExpression})
    if (expression != nullptr) Array.AddExpression(expression);

  if (Cursor.IsRangeApplied()) {
    const auto addBound = [&](uint8_t* Buffer, int32_t KeyFieldCount, TVEXSearchCondition Op) {
      if (Buffer == nullptr) return;
      TVEXScanSearchCondition bound;
      bound.Condition = Op;
      bound.KeyRecordBuffer = Buffer;
      bound.KeyRecordBufferSize = Cursor.KeyBufferSize();
      bound.KeyFieldCount = KeyFieldCount;
      bound.IndexID = Cursor.IndexID();
      Array.AddCondition(bound);
    };
    addBound(Cursor.RangeStartBuffer, Cursor.RangeStartKeyFieldCount,
             Cursor.RangeStartExclusive ? scGreater : scGreaterEqual);
    addBound(Cursor.RangeEndBuffer, Cursor.RangeEndKeyFieldCount,
             Cursor.RangeEndExclusive ? scLower : scLowerEqual);
  }

  if (Cursor.IsDistinctApplied() && Cursor.DistinctRecordBuffer != nullptr &&
      !Cursor.FirstPosition && !Cursor.LastPosition) {
    TVEXScanSearchCondition skip;
    skip.Condition = GoForward ? scGreater : scLower;
    skip.KeyRecordBuffer = Cursor.DistinctRecordBuffer;
    skip.KeyRecordBufferSize = Cursor.RecordBufferSize();
    skip.KeyFieldCount = Cursor.DistinctFieldCount;
    skip.IndexID = Cursor.IndexID();
    Array.AddCondition(skip);
  }
}

void TVEXTableData::OptimizeScanConditions(TVEXScanSearchConditionArray& Array, bool& IsEmpty) {
  IsEmpty = !Array.OptimizeScanConditions([this](int32_t IndexID, const uint8_t* Key1,
                                                 const uint8_t* Key2,
                                                 int32_t FieldCount) VEX_NO_THREAD_SAFETY_ANALYSIS {
    return FIndexManager->OpenIndex(IndexID)->CompareRecordBuffersByIndex(Key1, Key2, FieldCount);
  });
}

// --- the choice of an index range ---------------------------------------------------

namespace {

// The open index of a chosen condition; Code with "Pointer is nil" when the
// table has no such index.
TVEXIndex* OpenChosenIndex(TVEXBaseIndexManager* IndexManager, int32_t IndexID, int32_t Code) {
  if (IndexManager == nullptr || IndexManager->IndexDefs().GetDefByObjectId(IndexID) == nullptr)
    throw EVEXException(Code, "Pointer is nil");
  return IndexManager->OpenIndex(IndexID);
}

// The bytes one index entry takes: the B-tree's short key and reference;
// for another index the key columns' data with a null flag each and a
// record id.
double IndexEntrySize(TVEXIndex& Index, const TVEXFieldDefs& Fields) {
  if (auto* tree = dynamic_cast<TVEXBTreeRecordIndex*>(&Index);
      tree != nullptr && tree->KeyRef() != nullptr)
    return tree->KeyRef()->ShortKeySize() + tree->KeyRef()->ReferenceSize();
  double size = sizeof(TVEXPageItemID);
  const TVEXIndexDef* def = Index.IndexDef();
  for (int32_t c = 0; def != nullptr && c < def->ColumnCount(); ++c) {
    const int32_t fieldNo = Fields.GetDefNumberByName(def->GetIndexColumn(c)->FieldName);
    if (fieldNo >= 0) size += 1 + Fields.GetDef(fieldNo)->MemoryDataSize;
  }
  return size;
}

}  // namespace

void TVEXTableData::ChooseScanConditions(int32_t SessionID, TVEXScanSearchConditionArray& Array,
                                         int32_t IndexID, TVEXPageItemID CurrentRecordID,
                                         bool GoForward, const TVEXFilterRecordEvent& FilterRecord,
                                         int32_t& ScanConditionNo, int32_t& ScanEndConditionNo) {
  ScanConditionNo = -1;
  ScanEndConditionNo = -1;
  if (!FindPreferredScanCondition(Array, IndexID, ScanConditionNo))
    ChooseScanConditionsByCost(SessionID, Array, IndexID, CurrentRecordID, FilterRecord,
                               ScanConditionNo, ScanEndConditionNo);
  if (ScanConditionNo == -1 || ScanEndConditionNo == -1) return;
  TVEXIndex* index = OpenChosenIndex(FIndexManager.get(), Array[ScanConditionNo].IndexID, 20273);
  // Going forward the range starts at its lower bound, backward at its upper.
  const int32_t c = index->CompareConditions(Array[ScanConditionNo], Array[ScanEndConditionNo]);
  if (GoForward ? c > 0 : c < 0) std::swap(ScanConditionNo, ScanEndConditionNo);
}

bool TVEXTableData::FindPreferredScanCondition(TVEXScanSearchConditionArray& Array, int32_t IndexID,
                                               int32_t& ScanConditionNo) {
  int32_t indexConditions = 0;
  int32_t only = -1;
  for (int32_t i = 0; i < Array.Count(); ++i) {
    const TVEXScanSearchCondition& c = Array[i];
    if (c.Expression != nullptr) continue;
    ++indexConditions;
    only = i;
    const TVEXIndexDef* def = FIndexManager != nullptr
                                  ? static_cast<const TVEXIndexDef*>(
                                        FIndexManager->IndexDefs().GetDefByObjectId(c.IndexID))
                                  : nullptr;
    if (c.Condition == scEqual && def != nullptr && def->ColumnCount() == 1 &&
        IsUniqueKeyIndex(c.IndexID)) {
      ScanConditionNo = i;
      return true;
    }
  }
  if (indexConditions == 1 && IndexID != -1 && Array[only].IndexID == IndexID) {
    ScanConditionNo = only;
    return true;
  }
  return false;
}

bool TVEXTableData::IsUniqueKeyIndex(int32_t IndexID) {
  if (FIndexManager == nullptr) return false;
  const auto* def =
      static_cast<const TVEXIndexDef*>(FIndexManager->IndexDefs().GetDefByObjectId(IndexID));
  if (def == nullptr) return false;
  if (def->Unique || def->Primary) return true;
  if (def->ColumnCount() != 1 || FFieldManager == nullptr) return false;
  const TVEXFieldDefs& fields = FFieldManager->FieldDefs();
  const int32_t fieldNo = fields.GetDefNumberByName(def->GetIndexColumn(0)->FieldName);
  return fieldNo >= 0 && IsAutoIncAdvancedFieldType(fields.GetDef(fieldNo)->AdvancedFieldType);
}

void TVEXTableData::ChooseScanConditionsByCost(int32_t SessionID,
                                               TVEXScanSearchConditionArray& Array, int32_t IndexID,
                                               TVEXPageItemID CurrentRecordID,
                                               const TVEXFilterRecordEvent& FilterRecord,
                                               int32_t& ScanConditionNo,
                                               int32_t& ScanEndConditionNo) {
  double best = static_cast<double>(FRecordManager->RecordCount());
  for (int32_t i = 0; i < Array.Count(); ++i) {
    if (Array[i].Expression != nullptr) continue;
    int32_t end = -1;
    if (i + 1 < Array.Count() && Array[i + 1].Expression == nullptr &&
        Array[i + 1].IndexID == Array[i].IndexID)
      end = i + 1;
    const double cost = GetIndexScanCost(SessionID, Array, IndexID, FilterRecord, i, end);
    if (cost < best) {
      best = cost;
      ScanConditionNo = i;
      ScanEndConditionNo = end;
    }
    if (end != -1) ++i;
  }
  const int32_t pageDataSize = FPageManager != nullptr ? FPageManager->PageDataSize() : 0;
  if (ScanConditionNo != -1 && pageDataSize != 0 &&
      GetFullScanCost(SessionID, IndexID, CurrentRecordID) < best) {
    ScanConditionNo = -1;
    ScanEndConditionNo = -1;
  }
}

double TVEXTableData::GetIndexScanCost(int32_t SessionID, TVEXScanSearchConditionArray& Array,
                                       int32_t IndexID, const TVEXFilterRecordEvent& FilterRecord,
                                       int32_t StartNo, int32_t EndNo) {
  const TVEXScanSearchCondition& start = Array[StartNo];
  TVEXIndex* index = OpenChosenIndex(FIndexManager.get(), start.IndexID, 20058);
  const TVEXScanSearchCondition* end = EndNo >= 0 ? &Array[EndNo] : &start;
  const double n = static_cast<double>(
      index->GetApproxRangeRecordCount(SessionID, FRecordManager->RecordCount(), &start, end));
  const bool otherOrder = IndexID != -1 && IndexID != start.IndexID;
  bool readRecords = otherOrder;
  if (!readRecords) {
    TVEXExtractedNodes extracted(Array, StartNo, EndNo);
    readRecords = IsRecordTestNeeded(Array, StartNo, FilterRecord, EndNo);
  }

  const int32_t pageDataSize = FPageManager != nullptr ? FPageManager->PageDataSize() : 0;
  if (pageDataSize <= 0) return n * (1 + (readRecords ? 1 : 0) + (otherOrder ? 1 : 0));
  const double d = pageDataSize;
  const double entries = n * IndexEntrySize(*index, FFieldManager->FieldDefs()) / d;
  double cost = entries;
  if (readRecords) cost += n * FFieldManager->FieldDefs().GetDiskRecordBufferSize() / d;
  if (otherOrder) cost += entries;
  return cost;
}

double TVEXTableData::GetFullScanCost(int32_t SessionID, int32_t IndexID,
                                      TVEXPageItemID CurrentRecordID) {
  double remaining = static_cast<double>(FRecordManager->RecordCount());
  if (CurrentRecordID.PageNo >= 0)
    remaining -=
        static_cast<double>(FRecordManager->GetApproximateRecNo(SessionID, CurrentRecordID));
  remaining = std::max(remaining, 0.0);
  if (IndexID != -1) return remaining;
  const int32_t pageDataSize = FPageManager != nullptr ? FPageManager->PageDataSize() : 0;
  if (pageDataSize <= 0) return remaining;
  return remaining * FFieldManager->FieldDefs().GetDiskRecordBufferSize() / pageDataSize;
}

// --- the per-record test -------------------------------------------------------------

bool TVEXTableData::IsRecordTestNeeded(TVEXScanSearchConditionArray& Array, int32_t ScanConditionNo,
                                       const TVEXFilterRecordEvent& FilterRecord,
                                       int32_t ScanEndConditionNo) {
  if (FilterRecord) return true;
  for (int32_t i = 0; i < Array.Count(); ++i) {
    if (Chosen(i, ScanConditionNo, ScanEndConditionNo)) continue;
    const TVEXScanSearchCondition& c = Array[i];
    if (c.Expression != nullptr ? !c.Expression->IsEmpty() : !c.CreatedFromExpression) return true;
  }
  return false;
}

bool TVEXTableData::IsRecordMatchingConditions(TVEXScanSearchConditionArray& Array,
                                               int32_t ScanConditionNo, TVEXPageItemID RecordID,
                                               const uint8_t* RecordBuffer, TVEXCursor& Cursor,
                                               int32_t ScanEndConditionNo) {
  for (int32_t i = 0; i < Array.Count(); ++i) {
    if (Chosen(i, ScanConditionNo, ScanEndConditionNo)) continue;
    const TVEXScanSearchCondition& c = Array[i];
    if (c.Expression != nullptr) {
      if (!c.Expression->IsEmpty() && !c.Expression->GetResult()) return false;
    } else if (!TestScanCondition(c, RecordBuffer)) {
      return false;
    }
  }
  if (!Cursor.FilterRecord) return true;

  // The dataset sees the record as one of its own buffers: the memory record,
  // then the record id at the bookmark.
  const int32_t recordSize = FRecordManager->RecordBufferSize();
  const int32_t size = std::max(Cursor.RecordBufferSize(), recordSize);
  TVEXMemBlock buffer = TVEXMemBlock::AllocMem(std::max(size, 1));
  auto* bytes = buffer.As<uint8_t>();
  ScopeExit dropBlobs([&]() VEX_NO_THREAD_SAFETY_ANALYSIS {
    try {
      ClearBlobsCacheInRecordBuffer(bytes);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  });
  std::memcpy(bytes, RecordBuffer, static_cast<size_t>(recordSize));
  const int32_t bookmark = Cursor.BookmarkOffset();
  if (bookmark >= recordSize && bookmark + static_cast<int32_t>(sizeof(TVEXPageItemID)) <= size)
    std::memcpy(bytes + bookmark, &RecordID, sizeof(TVEXPageItemID));
  return Cursor.FilterRecord(bytes, Cursor.Dataset);
}

bool TVEXTableData::TestScanCondition(const TVEXScanSearchCondition& Condition,
                                      const uint8_t* RecordBuffer) {
  if (Condition.Condition == scNone) return false;
  const int32_t c = FIndexManager->OpenIndex(Condition.IndexID)
                        ->CompareRecordBuffersByIndex(RecordBuffer, Condition.KeyRecordBuffer,
                                                      Condition.KeyFieldCount);
  switch (Condition.Condition) {
    case scEqual:
      return c == 0;
    case scLower:
      return c < 0;
    case scGreater:
      return c > 0;
    case scLowerEqual:
      return c <= 0;
    case scGreaterEqual:
      return c >= 0;
    default:
      return false;
  }
}

// --- the scans -----------------------------------------------------------------------

namespace {

// Reads the record RecordID into Buffer; false when it no longer exists.
bool ReadRecord(TVEXBaseRecordManager& Records, int32_t SessionID, TVEXPageItemID RecordID,
                uint8_t* Buffer, TVEXPageItemID* ReadID = nullptr) {
  TVEXNavigationInfo info;
  info.GetRecordMode = grmCurrent;
  info.RecordID = RecordID;
  info.RecordBuffer = Buffer;
  Records.GetRecordBuffer(SessionID, info);
  if (ReadID != nullptr) *ReadID = info.RecordID;
  return info.GetRecordResult == grrOK;
}

}  // namespace

bool TVEXTableData::ScanView(TVEXTableScan& Scan) {
  if (Scan.ScanConditionNo == -1) return ScanAllRecords(Scan);
  if (Scan.ScanConditionNo >= Scan.Array.Count() || Scan.ScanConditionNo < 0)
    throw EVEXException(10382, "Invalid condition number = %d, count = %d", Scan.ScanConditionNo,
                        Scan.Array.Count());
  if (Scan.Cursor.IndexID() == -1) return ScanIndexRangeInPhysicalOrder(Scan);
  if (Scan.Cursor.IndexID() == Scan.Start()->IndexID) return ScanIndexRange(Scan);
  return ScanIndexRangeInIndexOrder(Scan);
}

namespace {

// Marks a match in the bitmap by the kind the bitmap is: by its position in
// the cursor's index, or by record id.
template <class PositionOf>
void MarkMatch(TVEXRecordBitmap* Bitmap, int32_t IndexID, TVEXPageItemID RecordID,
               PositionOf&& Position) {
  if (Bitmap == nullptr) return;
  if (!Bitmap->IndexBased()) {
    Bitmap->ShowRecord(RecordID);
    return;
  }
  if (const TVEXIndexPosition* pos = Position(); pos != nullptr) Bitmap->ShowRecord(IndexID, *pos);
}

}  // namespace

bool TVEXTableData::ScanAllRecords(TVEXTableScan& Scan) {
  TVEXCursor& cursor = Scan.Cursor;
  if (HasDenseBitmapPositions() && Scan.Bitmap != nullptr && Scan.FillBitmap &&
      Scan.Array.Count() == 0 && !cursor.FilterRecord && cursor.IndexID() == -1) {
    // Every position of such a table holds a record of the view. The bitmap
    // was cleared when the search began, so it takes the table's size first.
    Scan.Bitmap->SetSize(GetBitmapRecordCount(Scan.SessionID));
    Scan.Bitmap->SetAllBits();
    return false;
  }

  TVEXIndexPositionCache cache;
  TVEXNavigationInfo info;
  info.IndexID = cursor.IndexID();
  info.RecordBuffer = Scan.RecordBuffer;
  info.GetRecordMode = Scan.GoForward ? grmNext : grmPrior;
  if (Scan.Restart) {
    info.RecordID = {-1, 0};
    info.FirstPosition = Scan.GoForward;
    info.LastPosition = !Scan.GoForward;
  } else {
    info.RecordID = cursor.CurrentRecordID;
    info.FirstPosition = cursor.FirstPosition;
    info.LastPosition = cursor.LastPosition;
  }
  TVEXIndex* index = info.IndexID != -1 ? FIndexManager->OpenIndex(info.IndexID) : nullptr;
  std::unique_ptr<TVEXIndexPosition> position;
  const int32_t tableState = FRecordManager->TableState();
  for (;;) {
    if (index != nullptr)
      FIndexManager->GetRecordBuffer(Scan.SessionID, info, &cache, tableState);
    else
      FRecordManager->GetRecordBuffer(Scan.SessionID, info);
    if (info.GetRecordResult != grrOK) return false;
    if (!IsRecordMatchingConditions(Scan.Array, -1, info.RecordID, Scan.RecordBuffer, cursor, -1))
      continue;
    MarkMatch(Scan.Bitmap, info.IndexID, info.RecordID, [&]() -> const TVEXIndexPosition* {
      if (index == nullptr) return nullptr;
      if (position == nullptr) position = index->CreateIndexPosition();
      return index->GetIndexPosition(Scan.SessionID, info.RecordID, Scan.RecordBuffer, *position)
                 ? position.get()
                 : nullptr;
    });
    if (!Scan.FillBitmap) {
      Scan.FoundRecordID = info.RecordID;
      return true;
    }
  }
}

bool TVEXTableData::ScanIndexRange(TVEXTableScan& Scan) {
  TVEXCursor& cursor = Scan.Cursor;
  TVEXIndex* index = FIndexManager->OpenIndex(Scan.Start()->IndexID);
  TVEXPageItemID recordID = cursor.CurrentRecordID;
  if (!Scan.Restart && !ReadRecord(*FRecordManager, Scan.SessionID, recordID, Scan.RecordBuffer))
    return false;
  const bool testNeeded = IsRecordTestNeeded(Scan.Array, Scan.ScanConditionNo, cursor.FilterRecord,
                                             Scan.ScanEndConditionNo);
  const bool markByPosition = Scan.Bitmap != nullptr && Scan.Bitmap->IndexBased();
  std::unique_ptr<TVEXIndexSearchInfo> searchInfo = index->CreateSearchInfo();
  std::unique_ptr<TVEXIndexPosition> position;
  bool restart = Scan.Restart;
  while (index->FindRecord(Scan.SessionID, restart, Scan.GoForward, Scan.Start(), Scan.End(),
                           Scan.RecordBuffer, recordID, *searchInfo)) {
    restart = false;
    const bool read = (testNeeded || markByPosition) &&
                      ReadRecord(*FRecordManager, Scan.SessionID, recordID, Scan.RecordBuffer);
    if (testNeeded &&
        !(read && IsRecordMatchingConditions(Scan.Array, Scan.ScanConditionNo, recordID,
                                             Scan.RecordBuffer, cursor, Scan.ScanEndConditionNo)))
      continue;
    MarkMatch(
        Scan.Bitmap, index->IndexDef()->ObjectID, recordID, [&]() -> const TVEXIndexPosition* {
          if (!read) return nullptr;
          if (position == nullptr) position = index->CreateIndexPosition();
          return index->GetIndexPosition(Scan.SessionID, recordID, Scan.RecordBuffer, *position)
                     ? position.get()
                     : nullptr;
        });
    if (!Scan.FillBitmap) {
      Scan.FoundRecordID = recordID;
      return true;
    }
  }
  return false;
}

bool TVEXTableData::ScanIndexRangeInPhysicalOrder(TVEXTableScan& Scan) {
  TVEXCursor& cursor = Scan.Cursor;
  const TVEXScanSearchCondition& start = *Scan.Start();
  TVEXIndex* index = FIndexManager->OpenIndex(start.IndexID);
  const TVEXIndexDef* def = index->IndexDef();
  // Equal keys of a one-column index lie in record-id order.
  const bool equalKeys = start.Condition == scEqual && def != nullptr && def->ColumnCount() == 1;
  bool fromCurrent = !Scan.Restart && equalKeys;
  const bool shortcut =
      equalKeys && !start.PartialCompare && !Scan.FillBitmap && (Scan.Restart || Scan.GoForward);
  if (Scan.Bitmap != nullptr && Scan.Restart) InitRecordBitmap(*Scan.Bitmap, -1);

  const TVEXPageItemID current = cursor.CurrentRecordID;
  TVEXPageItemID recordID = current;
  // A current record that is gone gives no place in the index to go on
  // from: the whole range is walked then, and record ids decide.
  if (fromCurrent && !ReadRecord(*FRecordManager, Scan.SessionID, recordID, Scan.RecordBuffer))
    fromCurrent = false;
  const bool testNeeded = IsRecordTestNeeded(Scan.Array, Scan.ScanConditionNo, cursor.FilterRecord,
                                             Scan.ScanEndConditionNo);
  std::unique_ptr<TVEXIndexSearchInfo> searchInfo = index->CreateSearchInfo();
  bool restart = !fromCurrent;
  bool haveBest = false;
  bool tookShortcut = false;
  TVEXPageItemID best{-1, 0};
  while (index->FindRecord(Scan.SessionID, restart, Scan.GoForward, Scan.Start(), Scan.End(),
                           Scan.RecordBuffer, recordID, *searchInfo)) {
    restart = false;
    if (testNeeded &&
        !(ReadRecord(*FRecordManager, Scan.SessionID, recordID, Scan.RecordBuffer) &&
          IsRecordMatchingConditions(Scan.Array, Scan.ScanConditionNo, recordID, Scan.RecordBuffer,
                                     cursor, Scan.ScanEndConditionNo)))
      continue;
    if (Scan.Bitmap != nullptr) Scan.Bitmap->ShowRecord(recordID);
    if (!Scan.Restart) {
      const int32_t c = FRecordManager->CompareRecordID(recordID, current);
      if (Scan.GoForward ? c <= 0 : c >= 0) continue;
    }
    if (shortcut) {
      best = recordID;
      haveBest = tookShortcut = true;
      break;
    }
    const int32_t c = haveBest ? FRecordManager->CompareRecordID(recordID, best) : 0;
    if (!haveBest || (Scan.GoForward ? c < 0 : c > 0)) {
      best = recordID;
      haveBest = true;
    }
  }
  if (Scan.Bitmap != nullptr && Scan.Restart && !Scan.FillBitmap && !tookShortcut)
    Scan.Bitmap->SetActive(true);
  if (Scan.FillBitmap || !haveBest) return false;
  Scan.FoundRecordID = best;
  return true;
}

bool TVEXTableData::ScanIndexRangeInIndexOrder(TVEXTableScan& Scan) {
  TVEXCursor& cursor = Scan.Cursor;
  const int32_t orderID = cursor.IndexID();
  TVEXIndex* rangeIndex = FIndexManager->OpenIndex(Scan.Start()->IndexID);
  TVEXIndex* orderIndex = FIndexManager->OpenIndex(orderID);
  const auto raise = [&](int32_t Code, TVEXPageItemID RecordID) {
    throw EVEXException(Code, "Cannot find record position in index %d, RecordID = %d %d", orderID,
                        RecordID.PageNo, static_cast<int32_t>(RecordID.PageItemNo));
  };

  std::unique_ptr<TVEXIndexPosition> current = orderIndex->CreateIndexPosition();
  if (!Scan.Restart) {
    const TVEXPageItemID id = cursor.CurrentRecordID;
    TVEXPageItemID readID = id;
    if (!ReadRecord(*FRecordManager, Scan.SessionID, id, Scan.RecordBuffer, &readID))
      raise(10387, id);
    if (!SameRecord(readID, id)) raise(10415, id);
    if (!orderIndex->GetIndexPosition(Scan.SessionID, id, Scan.RecordBuffer, *current))
      raise(10386, id);
    TVEXPageItemID atPosition{-1, 0};
    orderIndex->GetRecordIDByIndexPosition(Scan.SessionID, *current, atPosition);
    if (!SameRecord(atPosition, id)) raise(10414, id);
  }
  if (Scan.Bitmap != nullptr && Scan.Restart) InitRecordBitmap(*Scan.Bitmap, orderID);

  std::unique_ptr<TVEXIndexSearchInfo> searchInfo = rangeIndex->CreateSearchInfo();
  std::unique_ptr<TVEXIndexPosition> position = orderIndex->CreateIndexPosition();
  std::unique_ptr<TVEXIndexPosition> best;
  TVEXPageItemID bestID{-1, 0};
  TVEXPageItemID recordID = cursor.CurrentRecordID;
  bool restart = true;
  while (rangeIndex->FindRecord(Scan.SessionID, restart, Scan.GoForward, Scan.Start(), Scan.End(),
                                Scan.RecordBuffer, recordID, *searchInfo)) {
    restart = false;
    if (!ReadRecord(*FRecordManager, Scan.SessionID, recordID, Scan.RecordBuffer) ||
        !IsRecordMatchingConditions(Scan.Array, Scan.ScanConditionNo, recordID, Scan.RecordBuffer,
                                    cursor, Scan.ScanEndConditionNo))
      continue;
    if (!orderIndex->GetIndexPosition(Scan.SessionID, recordID, Scan.RecordBuffer, *position))
      raise(10432, recordID);
    if (Scan.Bitmap != nullptr) Scan.Bitmap->ShowRecord(orderID, *position);
    if (!Scan.Restart) {
      const int32_t c = orderIndex->CompareRecordPositionsInIndex(*position, *current);
      if (Scan.GoForward ? c <= 0 : c >= 0) continue;
    }
    const int32_t c =
        best != nullptr ? orderIndex->CompareRecordPositionsInIndex(*position, *best) : 0;
    if (best == nullptr || (Scan.GoForward ? c < 0 : c > 0)) {
      if (best == nullptr) best = orderIndex->CreateIndexPosition();
      std::swap(best, position);
      bestID = recordID;
    }
  }
  if (Scan.Bitmap != nullptr && Scan.Restart && !Scan.FillBitmap) Scan.Bitmap->SetActive(true);
  if (Scan.FillBitmap || best == nullptr) return false;
  Scan.FoundRecordID = bestID;
  return true;
}

// --- the bitmap and the view test -----------------------------------------------------

bool TVEXTableData::FindRecordInBitmap(int32_t SessionID, bool Restart, int32_t IndexID,
                                       TVEXRecordBitmap& Bitmap, TVEXPageItemID& FoundRecordID,
                                       TVEXPageItemID CurrentRecordID, bool GoForward) {
  if (!Bitmap.IndexBased())
    return Bitmap.FindRecord(Restart, GoForward, CurrentRecordID, FoundRecordID);
  TVEXIndex* index = FIndexManager->OpenIndex(IndexID);
  std::unique_ptr<TVEXIndexPosition> current = index->CreateIndexPosition();
  if (!Restart && !GetIndexPositionOfRecord(SessionID, IndexID, *current, CurrentRecordID))
    return false;
  std::unique_ptr<TVEXIndexPosition> found = index->CreateIndexPosition();
  if (!Bitmap.FindRecord(Restart, GoForward, *current, *found, IndexID)) return false;
  GetRecordIDByIndexPos(SessionID, IndexID, FoundRecordID, *found);
  return true;
}

bool TVEXTableData::GetIndexPositionOfRecord(int32_t SessionID, int32_t IndexID,
                                             TVEXIndexPosition& IndexPos, TVEXPageItemID RecordID) {
  TVEXMemBlock buffer = TVEXMemBlock::AllocMem(std::max(FRecordManager->RecordBufferSize(), 1));
  if (!ReadRecord(*FRecordManager, SessionID, RecordID, buffer.As<uint8_t>())) return false;
  return FIndexManager->OpenIndex(IndexID)->GetIndexPosition(SessionID, RecordID,
                                                             buffer.As<uint8_t>(), IndexPos);
}

void TVEXTableData::GetRecordIDByIndexPos(int32_t SessionID, int32_t IndexID,
                                          TVEXPageItemID& RecordID,
                                          const TVEXIndexPosition& IndexPos) {
  FIndexManager->OpenIndex(IndexID)->GetRecordIDByIndexPosition(SessionID, IndexPos, RecordID);
}

bool TVEXTableData::IsRecordInRange(TVEXCursor& Cursor) {
  if (!Cursor.IsRangeApplied()) return true;
  TVEXIndex* index = FIndexManager->OpenIndex(Cursor.IndexID());
  const uint8_t* record = Cursor.CurrentRecordBuffer();
  if (Cursor.RangeStartBuffer != nullptr) {
    const int32_t c = index->CompareRecordBuffersByIndex(record, Cursor.RangeStartBuffer,
                                                         Cursor.RangeStartKeyFieldCount);
    if (Cursor.RangeStartExclusive ? c <= 0 : c < 0) return false;
  }
  if (Cursor.RangeEndBuffer != nullptr) {
    const int32_t c = index->CompareRecordBuffersByIndex(record, Cursor.RangeEndBuffer,
                                                         Cursor.RangeEndKeyFieldCount);
    if (Cursor.RangeEndExclusive ? c >= 0 : c > 0) return false;
  }
  return true;
}

bool TVEXTableData::IsRecordInView(TVEXCursor& Cursor) {
  if (!IsRecordInRange(Cursor)) return false;
  for (TVEXBaseExpression* filter : {Cursor.FilterExpression, Cursor.SQLFilterExpression}) {
    // An expression with nothing left in it restricts nothing.
    if (filter == nullptr || filter->IsEmpty()) continue;
    filter->AssignCursorBuffer(Cursor.CurrentRecordBuffer(), false);
    if (!filter->GetResult()) return false;
  }
  if (Cursor.FilterRecord) return Cursor.FilterRecord(Cursor.CurrentRecordBuffer(), Cursor.Dataset);
  return true;
}

void TVEXTableData::RefreshRecordBitmap(TVEXCursor& Cursor) {
  const TVEXRecordBitmap* bitmap = Cursor.RecordBitmap.get();
  const bool active = bitmap != nullptr && bitmap->Active();
  if ((active && bitmap->Outdated()) || (!active && Cursor.IsViewRestricted()))
    BuildRecordBitmap(Cursor);
}

void TVEXTableData::BuildRecordBitmap(TVEXCursor& Cursor) {
  TVEXLockGuard lock(FDatabaseLock);
  if (Cursor.RecordBitmap == nullptr)
    Cursor.RecordBitmap = std::make_unique<TVEXRecordBitmap>(this);
  TVEXRecordBitmap& bitmap = *Cursor.RecordBitmap;
  bitmap.Clear();
  bitmap.SetSize(GetBitmapRecordCount(Cursor.GetSessionID()));
  if (FRecordManager->RecordCount() <= 0) return;

  TVEXMemBlock position = Cursor.SavePosition();
  uint8_t* recordBuffer = Cursor.CurrentRecordBuffer();
  ScopeExit restore([&]() noexcept {
    Cursor.SetCurrentRecordBuffer(recordBuffer);
    Cursor.RestorePosition(position);
  });
  Cursor.SetCurrentRecordBuffer(nullptr);
  Cursor.FirstPosition = true;
  Cursor.LastPosition = false;
  TVEXPageItemID found{-1, 0};
  FindRecordInView(Cursor, nullptr, nullptr, true, true, found, &bitmap, true);
}

}  // namespace vex
