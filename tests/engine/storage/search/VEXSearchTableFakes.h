// A table of integer columns for tests of the table search: records in a map
// walked in record-id order (counting every record read), and indexes kept as
// sorted lists of (key, record id) rebuilt from the records whenever the table
// state moves. The index answers range searches, positions (one-level key
// paths), navigation and estimates as the B-tree index does, so the search
// runs as it would over a real engine. The table can also take B-tree indexes
// on its page store instead.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "../VEXDatabaseFakes.h"
#include "../VEXManagerFakes.h"
#include "rtl/Lists.h"
#include "storage/btree/VEXBTreeKeys.h"
#include "storage/btree/VEXBTreeRecordIndex.h"
#include "storage/search/VEXScanConditions.h"

namespace vex::testing {

// Records keyed by page number (1, 2, ...), which is also physical order.
class SearchRecords : public TVEXBaseRecordManager {
 public:
  explicit SearchRecords(int32_t RecordSize) { FRecordBufferSize = RecordSize; }

  void Empty(int32_t) override {
    Records.clear();
    FRecordCount = 0;
    ++FTableState;
  }
  bool AddRecord(int32_t, const uint8_t* RecordBuffer, TVEXPageItemID& RecordID) override {
    RecordID = {NextPageNo++, 0};
    Records[RecordID.PageNo].assign(RecordBuffer, RecordBuffer + FRecordBufferSize);
    ++FRecordCount;
    ++FTableState;
    return true;
  }
  bool UpdateRecord(int32_t, const uint8_t* RecordBuffer, TVEXPageItemID RecordID) override {
    auto it = Records.find(RecordID.PageNo);
    if (it == Records.end()) return false;
    it->second.assign(RecordBuffer, RecordBuffer + FRecordBufferSize);
    ++FTableState;
    return true;
  }
  bool DeleteRecord(int32_t, TVEXPageItemID& RecordID) override {
    if (Records.erase(RecordID.PageNo) == 0) return false;
    --FRecordCount;
    ++FTableState;
    return true;
  }
  void GetRecordBuffer(int32_t, TVEXNavigationInfo& Info) override {
    auto it = Records.end();
    switch (Info.GetRecordMode) {
      case grmCurrent:
        it = Records.find(Info.RecordID.PageNo);
        if (it == Records.end()) {
          Info.GetRecordResult = grrError;
          return;
        }
        break;
      case grmNext:
        it = Info.FirstPosition ? Records.begin() : Records.upper_bound(Info.RecordID.PageNo);
        if (Info.LastPosition || it == Records.end()) {
          Info.GetRecordResult = grrEOF;
          Info.LastPosition = true;
          return;
        }
        break;
      case grmPrior:
        it = Info.LastPosition ? Records.end() : Records.lower_bound(Info.RecordID.PageNo);
        if (Info.FirstPosition || it == Records.begin()) {
          Info.GetRecordResult = grrBOF;
          Info.FirstPosition = true;
          return;
        }
        --it;
        break;
    }
    ++Reads;
    std::memcpy(Info.RecordBuffer, it->second.data(), it->second.size());
    Info.RecordID = {it->first, 0};
    Info.FirstPosition = Info.LastPosition = false;
    Info.GetRecordResult = grrOK;
  }
  int32_t CompareRecordID(TVEXPageItemID A, TVEXPageItemID B) override {
    return A.PageNo < B.PageNo ? -1 : A.PageNo > B.PageNo ? 1 : 0;
  }
  int64_t GetApproximateRecNo(int32_t, TVEXPageItemID RecordID) override {
    return std::distance(Records.begin(), Records.lower_bound(RecordID.PageNo)) + 1;
  }

  std::map<int32_t, std::vector<uint8_t>> Records;
  int32_t NextPageNo = 1;
  // Records copied out, by any mode.
  int64_t Reads = 0;
};

// What the tests count of the search's use of its indexes.
struct SearchIndexStats {
  int64_t Estimates = 0;
  int64_t RangeSteps = 0;
};

class SearchIndexInfo : public TVEXIndexSearchInfo {
 public:
  bool Started = false;
  int64_t Current = 0;
  int64_t End = -1;
};

class SearchIndex : public TVEXIndex {
 public:
  struct Entry {
    std::vector<int32_t> Key;
    TVEXPageItemID ID;
  };

  SearchIndex(TVEXBaseIndexManager& Manager, SearchIndexStats& Stats)
      : TVEXIndex(&Manager), FStats(Stats) {}

  void DropIndex(int32_t) override {}
  void EmptyIndex(int32_t) override {}
  void RebuildTemporaryIndex(TVEXManagerCursor*) override {}

  void GetRecordBuffer(int32_t SessionID, TVEXNavigationInfo& Info, TVEXIndexPositionCache* Cache,
                       int32_t TableState) override {
    const auto& entries = Entries();
    const int64_t count = static_cast<int64_t>(entries.size());
    int64_t at = 0;
    if (Info.GetRecordMode == grmNext && Info.FirstPosition) {
      at = 0;
    } else if (Info.GetRecordMode == grmPrior && Info.LastPosition) {
      at = count - 1;
    } else {
      const int64_t own = Find(Info.RecordID);
      if (own < 0) {
        Info.GetRecordResult = grrError;
        return;
      }
      at = own + (Info.GetRecordMode == grmNext ? 1 : Info.GetRecordMode == grmPrior ? -1 : 0);
    }
    ReadAt(SessionID, Info, Cache, TableState, at);
  }
  void GetClosestRecordBuffer(int32_t SessionID, TVEXNavigationInfo& Info,
                              TVEXIndexPositionCache* Cache, int32_t TableState) override {
    const auto& entries = Entries();
    const std::vector<int32_t> key = KeyOf(Info.RecordBuffer);
    int64_t at = 0;
    while (at < static_cast<int64_t>(entries.size()) && Less(entries[at], key, Info.RecordID)) ++at;
    ReadAt(SessionID, Info, Cache, TableState, Info.GetRecordMode == grmPrior ? at - 1 : at);
  }
  std::unique_ptr<TVEXIndexPosition> CreateIndexPosition() override {
    return std::make_unique<TVEXKeyPath>();
  }
  bool GetIndexPosition(int32_t, TVEXPageItemID RecordID, const uint8_t*,
                        TVEXIndexPosition& Position) override {
    const int64_t at = Find(RecordID);
    if (at < 0) return false;
    SetPath(Position, at);
    return true;
  }
  int32_t CompareRecordPositionsInIndex(const TVEXIndexPosition& A,
                                        const TVEXIndexPosition& B) override {
    const int32_t a = EntryNo(A), b = EntryNo(B);
    return a < b ? -1 : a > b ? 1 : 0;
  }
  int64_t GetRecNoByRecordID(int32_t, TVEXPageItemID RecordID, const uint8_t*) override {
    return Find(RecordID) + 1;
  }
  TVEXPageItemID GetRecordIDByRecNo(int32_t, int64_t RecNo) override {
    return Entries().at(static_cast<size_t>(RecNo - 1)).ID;
  }
  void ApplyDistinctToRecordBitmap(int32_t, TVEXRecordBitmap& Bitmap,
                                   int32_t DistinctFieldCount) override {
    const auto& entries = Entries();
    const Entry* kept = nullptr;
    TVEXKeyPath path;
    for (size_t i = 0; i < entries.size(); ++i) {
      SetPath(path, static_cast<int64_t>(i));
      if (!Bitmap.IsRecordVisible(FIndexDef->ObjectID, path)) continue;
      if (kept != nullptr && Compare(entries[i].Key, kept->Key, DistinctFieldCount) == 0)
        Bitmap.HideRecord(FIndexDef->ObjectID, path);
      else
        kept = &entries[i];
    }
  }
  std::unique_ptr<TVEXIndexSearchInfo> CreateSearchInfo() override {
    return std::make_unique<SearchIndexInfo>();
  }
  // The B-tree's range walk: the first (last) entry meeting the start, up to
  // the last (first) entry meeting the end; without Restart a new walk first
  // finds the record of RecordID and goes on after it.
  bool FindRecord(int32_t, bool Restart, bool GoForward, const TVEXScanSearchCondition* Start,
                  const TVEXScanSearchCondition* End, uint8_t*, TVEXPageItemID& RecordID,
                  TVEXIndexSearchInfo& SearchInfo) override {
    ++FStats.RangeSteps;
    auto& info = dynamic_cast<SearchIndexInfo&>(SearchInfo);
    const auto& entries = Entries();
    const int64_t count = static_cast<int64_t>(entries.size());
    bool skipStep = false;
    if (Restart || !info.Started) {
      if (Start != nullptr) {
        info.Current = Bound(*Start, GoForward);
        if (info.Current < 0) return false;
        if (!Restart) {
          const int64_t own = Find(RecordID);
          if (own < 0) return false;
          if (GoForward ? own < info.Current : own > info.Current) {
            const int64_t back = info.Current + (GoForward ? -1 : 1);
            if (back < 0 || back >= count)
              skipStep = true;
            else
              info.Current = back;
          } else {
            info.Current = own;
          }
        }
      } else if (Restart) {
        if (count == 0) return false;
        info.Current = GoForward ? 0 : count - 1;
      } else {
        info.Current = Find(RecordID);
        if (info.Current < 0) return false;
      }
    }
    if (!info.Started && Start != nullptr) {
      info.End = Bound(End != nullptr ? *End : *Start, !GoForward);
      if (info.End < 0) return false;
    }
    if (!Restart && !skipStep) info.Current += GoForward ? 1 : -1;
    if (info.Current < 0 || info.Current >= count) return false;
    if (info.End >= 0 && (GoForward ? info.Current > info.End : info.Current < info.End))
      return false;
    RecordID = entries[info.Current].ID;
    info.Started = true;
    return true;
  }
  int32_t CompareRecordBuffersByIndex(const uint8_t* A, const uint8_t* B, int32_t N) override {
    return Compare(KeyOf(A), KeyOf(B), N);
  }
  int32_t CompareConditions(const TVEXScanSearchCondition& C1,
                            const TVEXScanSearchCondition&) override {
    return C1.Condition == scGreater || C1.Condition == scGreaterEqual ? -1
           : C1.Condition == scLower || C1.Condition == scLowerEqual   ? 1
                                                                       : 0;
  }
  int64_t GetApproxRangeRecordCount(int32_t, int64_t, const TVEXScanSearchCondition* C1,
                                    const TVEXScanSearchCondition* C2) override {
    ++FStats.Estimates;
    int64_t n = 0;
    for (const Entry& e : Entries())
      if ((C1 == nullptr || Meets(e, *C1)) && (C2 == nullptr || Meets(e, *C2))) ++n;
    return n;
  }
  bool CanInsertRecord(int32_t, const uint8_t*) override { return true; }
  bool CanUpdateRecord(int32_t, const uint8_t*, const uint8_t*) override { return true; }
  void InsertRecord(TVEXManagerCursor&) override {}
  void DeleteRecord(TVEXManagerCursor&) override {}
  void UpdateRecord(TVEXManagerCursor&, bool) override {}
  int32_t GetMaxEntriesPerPage() override { return 1 << 20; }
  void GetRecordIDByIndexPosition(int32_t, const TVEXIndexPosition& Position,
                                  TVEXPageItemID& RecordID) override {
    RecordID = Entries().at(static_cast<size_t>(EntryNo(Position))).ID;
  }

  // The index's column values of a memory record.
  std::vector<int32_t> KeyOf(const uint8_t* Record) const {
    const TVEXFieldDefs& fields = FIndexManager->TableData().GetFieldManager()->FieldDefs();
    std::vector<int32_t> key;
    for (int32_t c = 0; c < FIndexDef->ColumnCount(); ++c) {
      const int32_t fieldNo = fields.GetDefNumberByName(FIndexDef->GetIndexColumn(c)->FieldName);
      int32_t v = 0;
      std::memcpy(&v, Record + fields.GetDef(fieldNo)->MemoryOffset, sizeof v);
      key.push_back(v);
    }
    return key;
  }
  static int32_t Compare(const std::vector<int32_t>& A, const std::vector<int32_t>& B, int32_t N) {
    const size_t n = N <= 0 ? A.size() : std::min(static_cast<size_t>(N), A.size());
    for (size_t i = 0; i < n; ++i)
      if (A[i] != B[i]) return A[i] < B[i] ? -1 : 1;
    return 0;
  }

 private:
  const std::vector<Entry>& Entries() {
    auto* records = static_cast<SearchRecords*>(FIndexManager->TableData().GetRecordManager());
    if (FBuiltAt == records->TableState() && FBuilt) return FEntries;
    FEntries.clear();
    for (const auto& [pageNo, record] : records->Records)
      FEntries.push_back({KeyOf(record.data()), {pageNo, 0}});
    std::stable_sort(FEntries.begin(), FEntries.end(),
                     [](const Entry& a, const Entry& b) { return Compare(a.Key, b.Key, 0) < 0; });
    FBuiltAt = records->TableState();
    FBuilt = true;
    return FEntries;
  }
  int64_t Find(TVEXPageItemID RecordID) {
    const auto& entries = Entries();
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i].ID.PageNo == RecordID.PageNo) return static_cast<int64_t>(i);
    return -1;
  }
  bool Less(const Entry& e, const std::vector<int32_t>& key, TVEXPageItemID id) const {
    const int32_t c = Compare(e.Key, key, 0);
    return c < 0 || (c == 0 && e.ID.PageNo < id.PageNo);
  }
  bool Meets(const Entry& e, const TVEXScanSearchCondition& C) const {
    const int32_t c = Compare(e.Key, KeyOf(C.KeyRecordBuffer), C.KeyFieldCount);
    switch (C.Condition) {
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
  // The first (First) or last entry meeting the condition; -1 for none.
  int64_t Bound(const TVEXScanSearchCondition& C, bool First) {
    const auto& entries = Entries();
    const int64_t count = static_cast<int64_t>(entries.size());
    for (int64_t k = 0; k < count; ++k) {
      const int64_t i = First ? k : count - 1 - k;
      if (Meets(entries[i], C)) return i;
    }
    return -1;
  }
  void ReadAt(int32_t SessionID, TVEXNavigationInfo& Info, TVEXIndexPositionCache* Cache,
              int32_t TableState, int64_t At) {
    const auto& entries = Entries();
    if (At < 0) {
      Info.GetRecordResult = grrBOF;
      Info.FirstPosition = true;
      return;
    }
    if (At >= static_cast<int64_t>(entries.size())) {
      Info.GetRecordResult = grrEOF;
      Info.LastPosition = true;
      return;
    }
    TVEXNavigationInfo read = Info;
    read.GetRecordMode = grmCurrent;
    read.RecordID = entries[At].ID;
    FIndexManager->TableData().GetRecordManager()->GetRecordBuffer(SessionID, read);
    Info.RecordID = entries[At].ID;
    Info.FirstPosition = Info.LastPosition = false;
    Info.GetRecordResult = read.GetRecordResult;
    if (Cache != nullptr) {
      if (Cache->Position == nullptr) Cache->Position = CreateIndexPosition();
      SetPath(*Cache->Position, At);
      Cache->IndexID = FIndexDef->ObjectID;
      Cache->RecordID = Info.RecordID;
      Cache->TableState = TableState;
    }
  }
  static void SetPath(TVEXIndexPosition& Position, int64_t At) {
    auto& path = dynamic_cast<TVEXKeyPath&>(Position);
    path.Clear();
    path.AddItem(1, static_cast<int32_t>(At), 0);
  }
  static int32_t EntryNo(const TVEXIndexPosition& Position) {
    return dynamic_cast<const TVEXKeyPath&>(Position).Items[0].EntryNo;
  }

  SearchIndexStats& FStats;
  std::vector<Entry> FEntries;
  int32_t FBuiltAt = -1;
  bool FBuilt = false;
};

// A table of the fake engine whose records and indexes are the two above;
// a record's bitmap position is its page number - 1.
class SearchTable : public FakeTableData {
 public:
  explicit SearchTable(TVEXDatabaseData* Database) : FakeTableData(Database) {}

  void CreateTable(TVEXCursor* Cursor, TVEXFieldDefs& FieldDefs, TVEXIndexDefs& IndexDefs,
                   TVEXConstraintDefs& ConstraintDefs) override {
    FFieldManager = std::make_unique<TVEXBaseFieldManager>(this);
    FIndexManager = std::make_unique<TVEXBaseIndexManager>(
        *this, &TempPages, [this](TVEXBaseIndexManager& m) -> std::unique_ptr<TVEXIndex> {
          if (UseBTree) return std::make_unique<TVEXBTreeRecordIndex>(&m);
          return std::make_unique<SearchIndex>(m, Stats);
        });
    FConstraintManager = std::make_unique<TVEXBaseConstraintManager>(*this);
    CreateFieldManager(FieldDefs);
    CreateIndexManager(IndexDefs);
    CreateConstraintManager(ConstraintDefs);
    CreateRecordManager();
    // Empty B-trees are made in the system session and committed at once.
    FIndexManager->CreateIndexesByIndexDefs(UseBTree ? nullptr : Cursor);
    if (UseBTree) Commit(kSystemSessionID);
  }

  SearchRecords* Rows() const { return static_cast<SearchRecords*>(RecordManager()); }
  const TVEXFieldDefs& Fields() const { return FieldManager()->FieldDefs(); }
  // A memory record with these values in the fields, in field order.
  std::vector<uint8_t> Row(const std::vector<int32_t>& Values) const {
    std::vector<uint8_t> record(static_cast<size_t>(Fields().GetMemoryRecordBufferSize()), 0);
    for (size_t i = 0; i < Values.size(); ++i)
      std::memcpy(record.data() + Fields().GetDef(static_cast<int32_t>(i))->MemoryOffset,
                  &Values[i], sizeof(int32_t));
    return record;
  }
  // A new record (session 0), entered into B-tree indexes and committed.
  TVEXPageItemID Add(const std::vector<int32_t>& Values) {
    FakeCursor cursor(0, Fields());
    cursor.Record = Row(Values);
    Rows()->AddRecord(0, cursor.Record.data(), cursor.RecordID);
    if (UseBTree) {
      IndexManager()->InsertRecord(cursor);
      Commit(0);
    }
    return cursor.RecordID;
  }
  void Commit(int32_t SessionID) {
    TVEXLockGuard lock(PageManager()->DatabaseLock());
    PageManager()->ApplyChanges(SessionID);
  }
  int32_t IndexIdOf(const char* Name) const {
    return IndexManager()->IndexDefs().GetDefByName(Name)->ObjectID;
  }

  using TVEXTableData::BuildRecordBitmap;
  using TVEXTableData::FindRecordInView;
  using TVEXTableData::IsRecordInView;
  using TVEXTableData::RefreshRecordBitmap;

  SearchIndexStats Stats;
  bool Dense = false;
  // Set before CreateTable.
  bool UseBTree = false;

 protected:
  void CreateRecordManager() override {
    FRecordManager = std::make_unique<SearchRecords>(GetRecordBufferSize());
  }
  int64_t GetBitmapRecordCount(int32_t) override { return Rows()->NextPageNo - 1; }
  int64_t GetBitmapRecNoByRecordID(TVEXPageItemID RecordID) override { return RecordID.PageNo - 1; }
  TVEXPageItemID GetRecordIDByBitmapRecNo(int64_t RecNo) override {
    return {static_cast<int32_t>(RecNo + 1), 0};
  }
  bool HasDenseBitmapPositions() const override { return Dense; }
};

class SearchDatabase : public FakeDatabaseData {
 public:
  using FakeDatabaseData::FakeDatabaseData;
  TVEXTableData* CreateTableData(TVEXCursor& Cursor) override {
    auto table = std::make_unique<SearchTable>(this);
    table->SetTableName(Cursor.TableName());
    table->SetPageManager(PageManager());
    return AddTableData(std::move(table));
  }
};

// Index definitions over the named columns, each "ASC" and case-sensitive.
inline TVEXIndexDef* AddIndexDef(TVEXIndexDefs& Defs, const char* Name,
                                 std::initializer_list<const char*> Columns, bool Unique = false) {
  TVEXIndexDef* def = Defs.AddCreated();
  def->Name = Name;
  def->Unique = Unique;
  rtl::TStringList names, asc, cases;
  for (const char* column : Columns) {
    names.Add(column);
    asc.Add("ASC");
    cases.Add("CASE");
  }
  def->AssignByNames(names, asc, cases);
  return def;
}

}  // namespace vex::testing
