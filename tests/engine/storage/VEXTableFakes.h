// Fakes around a table's index and constraint managers: a record store over a
// map, an index kept as a sorted set of (key bytes, record id) in a store of
// its own, a cursor standing on one record, and a table that owns the three
// managers and wires them together as the table data does.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "VEXManagerFakes.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXTypes.h"
#include "storage/VEXConstraintManager.h"
#include "storage/VEXFieldManager.h"
#include "storage/VEXIndexManager.h"

namespace vex::testing {

class FakeTable;

// Records in a map keyed by a running page number; the table state advances
// with every change.
class FakeRecordManager : public TVEXBaseRecordManager {
 public:
  explicit FakeRecordManager(int32_t RecordSize) { FRecordBufferSize = RecordSize; }

  void Empty(int32_t) override {
    Records.clear();
    FRecordCount = 0;
    ++FTableState;
  }
  bool AddRecord(int32_t, const uint8_t* RecordBuffer, TVEXPageItemID& RecordID) override {
    RecordID = {FNextPageNo++, 0};
    Records[int32_t{RecordID.PageNo}].assign(RecordBuffer, RecordBuffer + FRecordBufferSize);
    ++FRecordCount;
    ++FTableState;
    return true;
  }
  bool UpdateRecord(int32_t, const uint8_t* RecordBuffer, TVEXPageItemID RecordID) override {
    auto it = Records.find(int32_t{RecordID.PageNo});
    if (it == Records.end()) return false;
    it->second.assign(RecordBuffer, RecordBuffer + FRecordBufferSize);
    ++FTableState;
    return true;
  }
  bool DeleteRecord(int32_t, TVEXPageItemID& RecordID) override {
    if (Records.erase(int32_t{RecordID.PageNo}) == 0) return false;
    --FRecordCount;
    ++FTableState;
    return true;
  }
  // Physical order is the order of the map. Off an end a step reports
  // grrEOF / grrBOF and the end position.
  void GetRecordBuffer(int32_t, TVEXNavigationInfo& Info) override {
    auto deliver = [&](std::map<int32_t, std::vector<uint8_t>>::const_iterator it) {
      std::memcpy(Info.RecordBuffer, it->second.data(), it->second.size());
      Info.RecordID = {it->first, 0};
      Info.FirstPosition = false;
      Info.LastPosition = false;
      Info.GetRecordResult = grrOK;
    };
    auto offEnd = [&](bool forward) {
      Info.FirstPosition = !forward;
      Info.LastPosition = forward;
      Info.GetRecordResult = forward ? grrEOF : grrBOF;
    };
    const int32_t pageNo = Info.RecordID.PageNo;
    switch (Info.GetRecordMode) {
      case grmCurrent: {
        auto it = Records.find(pageNo);
        if (Info.FirstPosition || Info.LastPosition || it == Records.end()) {
          Info.GetRecordResult = grrError;
          return;
        }
        deliver(it);
        return;
      }
      case grmNext: {
        if (Info.LastPosition) return offEnd(true);
        auto it = Info.FirstPosition ? Records.begin() : Records.upper_bound(pageNo);
        if (it == Records.end()) return offEnd(true);
        deliver(it);
        return;
      }
      case grmPrior: {
        if (Info.FirstPosition) return offEnd(false);
        auto it = Info.LastPosition ? Records.end() : Records.lower_bound(pageNo);
        if (it == Records.begin()) return offEnd(false);
        deliver(std::prev(it));
        return;
      }
    }
  }
  int32_t CompareRecordID(TVEXPageItemID A, TVEXPageItemID B) override {
    return A.PageNo < B.PageNo ? -1 : A.PageNo > B.PageNo ? 1 : 0;
  }
  int64_t GetApproximateRecNo(int32_t, TVEXPageItemID) override { return 1; }

  // Moves the table state as another connection's change would.
  void Touch() { ++FTableState; }

  std::map<int32_t, std::vector<uint8_t>> Records;

 private:
  int32_t FNextPageNo = 1;
};

// What a fake index holds, kept by root page number as pages would be, so an
// index closed and opened again finds its entries.
struct FakeIndexStore {
  // Entries: the key bytes (null flag and data of each column) and the page
  // number of the record.
  std::map<int32_t, std::multiset<std::pair<std::string, int32_t>>> Roots;
  int32_t NextRoot = 1;
  int32_t Rebuilds = 0;
  int32_t Drops = 0;
  // The page managers the index objects were told to use, by index name.
  std::map<std::string, TVEXPageManager*> PageManagers;
  // Raised by the next CreateIndex when set.
  bool FailNextCreate = false;
  // Called at the start of a rebuild (to try re-entry).
  std::function<void()> OnRebuild;
};

class FakeIndex : public TVEXIndex {
 public:
  FakeIndex(TVEXBaseIndexManager& Manager, FakeIndexStore& Store)
      : TVEXIndex(&Manager), FStore(Store) {}

  void CreateIndex(TVEXManagerCursor* Cursor, TVEXIndexDef& aIndexDef) override {
    TVEXIndex::CreateIndex(Cursor, aIndexDef);
    if (FStore.FailNextCreate) {
      FStore.FailNextCreate = false;
      throw EVEXException(20119, "Invalid page number");
    }
    const int32_t root = FStore.NextRoot++;
    aIndexDef.RootPageNo = root;
    FIndexDef->RootPageNo = root;
    FStore.Roots[root];
    FStore.PageManagers[FIndexDef->Name.str()] = FIndexManager->GetPageManager(*this);
    if (Cursor == nullptr) return;
    for (const auto& [pageNo, record] : Records())
      FStore.Roots[root].insert({Key(record.data()), pageNo});
  }
  void DropIndex(int32_t) override {
    if (FIndexDef->RootPageNo < 0) throw EVEXException(20119, "Invalid page number");
    FStore.Roots.erase(FIndexDef->RootPageNo);
    FIndexDef->RootPageNo = -1;
    ++FStore.Drops;
  }
  void EmptyIndex(int32_t) override { Entries().clear(); }
  void RebuildTemporaryIndex(TVEXManagerCursor* Cursor) override {
    ++FStore.Rebuilds;
    if (FStore.OnRebuild) FStore.OnRebuild();
    DropIndex(Cursor->GetSessionID());
    CreateIndex(Cursor, *FIndexDef);
  }
  // Steps along the entries in key order (equal keys by record), reading the
  // record from the record store; off an end grrEOF / grrBOF and the end
  // position; an entry that cannot be found grrError.
  void GetRecordBuffer(int32_t, TVEXNavigationInfo& Info, TVEXIndexPositionCache*,
                       int32_t) override {
    LastCall = "GetRecordBuffer";
    auto& entries = Entries();
    auto at = entries.end();
    if (!Info.FirstPosition && !Info.LastPosition) {
      at = EntryOf(Info.RecordID.PageNo);
      if (at == entries.end()) {
        Info.GetRecordResult = grrError;
        return;
      }
    }
    const bool forward = Info.GetRecordMode != grmPrior;
    if (forward) {
      at = Info.FirstPosition ? entries.begin() : Info.LastPosition ? entries.end() : std::next(at);
    } else if (Info.FirstPosition || at == entries.begin()) {
      at = entries.end();
    } else {
      at = std::prev(at);
    }
    if (at == entries.end()) {
      Info.FirstPosition = !forward;
      Info.LastPosition = forward;
      Info.GetRecordResult = forward ? grrEOF : grrBOF;
      return;
    }
    auto record = Records().find(at->second);
    if (record == Records().end()) {
      Info.GetRecordResult = grrError;
      return;
    }
    std::memcpy(Info.RecordBuffer, record->second.data(), record->second.size());
    Info.RecordID = {at->second, 0};
    Info.FirstPosition = false;
    Info.LastPosition = false;
    Info.GetRecordResult = grrOK;
  }
  void GetClosestRecordBuffer(int32_t, TVEXNavigationInfo& Info, TVEXIndexPositionCache*,
                              int32_t) override {
    Info.GetRecordResult = grrOK;
    LastCall = "GetClosestRecordBuffer";
  }
  std::unique_ptr<TVEXIndexPosition> CreateIndexPosition() override {
    return std::make_unique<TVEXIndexPosition>();
  }
  bool GetIndexPosition(int32_t, TVEXPageItemID, const uint8_t*, TVEXIndexPosition&) override {
    return false;
  }
  int32_t CompareRecordPositionsInIndex(const TVEXIndexPosition&,
                                        const TVEXIndexPosition&) override {
    return 0;
  }
  // Positions in key order, 1-based.
  int64_t GetRecNoByRecordID(int32_t, TVEXPageItemID RecordID, const uint8_t*) override {
    auto at = EntryOf(RecordID.PageNo);
    return at == Entries().end() ? -1 : std::distance(Entries().begin(), at) + 1;
  }
  TVEXPageItemID GetRecordIDByRecNo(int32_t, int64_t RecNo) override {
    if (RecNo < 1 || RecNo > static_cast<int64_t>(Entries().size())) return {-1, 0};
    return {std::next(Entries().begin(), RecNo - 1)->second, 0};
  }
  void ApplyDistinctToRecordBitmap(int32_t, TVEXRecordBitmap&, int32_t) override {}
  std::unique_ptr<TVEXIndexSearchInfo> CreateSearchInfo() override {
    return std::make_unique<TVEXIndexSearchInfo>();
  }
  bool FindRecord(int32_t, bool, bool, const TVEXScanSearchCondition*,
                  const TVEXScanSearchCondition*, uint8_t*, TVEXPageItemID&,
                  TVEXIndexSearchInfo&) override {
    return false;
  }
  int32_t CompareRecordBuffersByIndex(const uint8_t* A, const uint8_t* B, int32_t) override {
    return Key(A).compare(Key(B));
  }
  int32_t CompareConditions(const TVEXScanSearchCondition&,
                            const TVEXScanSearchCondition&) override {
    return 0;
  }
  int64_t GetApproxRangeRecordCount(int32_t, int64_t Count, const TVEXScanSearchCondition*,
                                    const TVEXScanSearchCondition*) override {
    return Count;
  }
  bool CanInsertRecord(int32_t, const uint8_t* RecordBuffer) override {
    if (!FIndexDef->Unique && !FIndexDef->Primary) return true;
    const std::string key = Key(RecordBuffer);
    for (const auto& entry : Entries()) {
      if (entry.first == key) return false;
    }
    return true;
  }
  bool CanUpdateRecord(int32_t SessionID, const uint8_t* Old, const uint8_t* New) override {
    return Key(Old) == Key(New) || CanInsertRecord(SessionID, New);
  }
  void InsertRecord(TVEXManagerCursor& Cursor) override {
    Entries().insert({Key(Cursor.GetCurrentRecordBuffer()), Cursor.GetCurrentRecordID().PageNo});
  }
  void DeleteRecord(TVEXManagerCursor& Cursor) override {
    auto& entries = Entries();
    auto it =
        entries.find({Key(Cursor.GetCurrentRecordBuffer()), Cursor.GetCurrentRecordID().PageNo});
    if (it != entries.end()) entries.erase(it);
  }
  void UpdateRecord(TVEXManagerCursor& Cursor, bool BeforeNewRecordIsStored) override {
    // The fake moves the entry once the new record is stored.
    if (BeforeNewRecordIsStored) return;
    auto& entries = Entries();
    const int32_t pageNo = Cursor.GetCurrentRecordID().PageNo;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
      if (it->second == pageNo) {
        entries.erase(it);
        break;
      }
    }
    entries.insert({Key(Cursor.GetCurrentRecordBuffer()), pageNo});
  }
  int32_t GetMaxEntriesPerPage() override { return 10; }
  void GetRecordIDByIndexPosition(int32_t, const TVEXIndexPosition&,
                                  TVEXPageItemID& RecordID) override {
    RecordID = {-1, 0};
  }

  // The entry key of a record: per column a null flag and the field's bytes.
  std::string Key(const uint8_t* Record) const;
  std::string LastCall;

 private:
  std::multiset<std::pair<std::string, int32_t>>& Entries() {
    return FStore.Roots.at(FIndexDef->RootPageNo);
  }
  std::multiset<std::pair<std::string, int32_t>>::iterator EntryOf(int32_t PageNo) {
    auto& entries = Entries();
    return std::find_if(entries.begin(), entries.end(),
                        [&](const auto& entry) { return entry.second == PageNo; });
  }
  const std::map<int32_t, std::vector<uint8_t>>& Records() const;

  FakeIndexStore& FStore;
};

// A cursor standing on one record of a session.
class FakeCursor : public TVEXManagerCursor {
 public:
  FakeCursor(int32_t SessionID, const TVEXFieldDefs& FieldDefs)
      : FSessionID(SessionID), FFieldDefs(FieldDefs) {}
  int32_t GetSessionID() const override { return FSessionID; }
  TVEXPageItemID GetCurrentRecordID() const override { return RecordID; }
  uint8_t* GetCurrentRecordBuffer() const override { return const_cast<uint8_t*>(Record.data()); }
  const TVEXFieldDefs& GetFieldDefs() const override { return FFieldDefs; }
  // The fake index fills itself from the record store, not through a scan.
  TVEXCursor& GetCursor() override { throw std::logic_error("a fake cursor has no TVEXCursor"); }

  TVEXPageItemID RecordID{-1, 0};
  std::vector<uint8_t> Record;

 private:
  int32_t FSessionID;
  const TVEXFieldDefs& FFieldDefs;
};

// Owns the managers as the table data does; records change as the local
// cursor changes them: the record store first, then the indexes.
class FakeTable : public TVEXManagedTable {
 public:
  FakeTable()
      : Fields(this),
        Indexes(*this, &TempPages,
                [this](TVEXBaseIndexManager& m) { return std::make_unique<FakeIndex>(m, Store); }),
        Constraints(*this) {}

  // The record store, sized from the fields (call once the fields are in).
  void Open() {
    Fields.RecalcFieldOffsets();
    Fields.InitLastAutoIncValues();
    Records = std::make_unique<FakeRecordManager>(Fields.FieldDefs().GetMemoryRecordBufferSize());
  }

  int32_t GetNewObjectId() override { return NextObjectId++; }
  TVEXPageManager* GetPageManager() const override { return &Self().TablePages; }
  TVEXBaseFieldManager* GetFieldManager() const override { return &Self().Fields; }
  TVEXBaseIndexManager* GetIndexManager() const override { return &Self().Indexes; }
  TVEXBaseRecordManager* GetRecordManager() const override { return Records.get(); }
  bool IsUniqueConstraintFailed(int32_t SessionID, int32_t IndexID, const uint8_t* New,
                                const uint8_t* Old, bool ToInsert, TVEXPageItemID) override {
    if (Records->RecordCount() <= 0) return false;
    TVEXIndex* index = Indexes.OpenIndex(IndexID);
    return ToInsert ? !index->CanInsertRecord(SessionID, New)
                    : !index->CanUpdateRecord(SessionID, Old, New);
  }

  // Stores the cursor's record as a new one and enters it into every index.
  void Insert(FakeCursor& Cursor) {
    Records->AddRecord(Cursor.GetSessionID(), Cursor.Record.data(), Cursor.RecordID);
    Indexes.InsertRecord(Cursor);
  }
  void Update(FakeCursor& Cursor) {
    Indexes.UpdateRecord(Cursor, true);
    Records->UpdateRecord(Cursor.GetSessionID(), Cursor.Record.data(), Cursor.RecordID);
    Indexes.UpdateRecord(Cursor, false);
  }
  void Delete(FakeCursor& Cursor) {
    Indexes.DeleteRecord(Cursor);
    Records->DeleteRecord(Cursor.GetSessionID(), Cursor.RecordID);
  }
  // As the table data drops an index: its constraint first.
  void DeleteIndex(int32_t IndexID, int32_t SessionID) {
    Constraints.DeleteConstraintForIndexID(IndexID);
    Indexes.DropIndex(SessionID, IndexID);
  }

  FakeTable& Self() const { return const_cast<FakeTable&>(*this); }

  // Two distinct stand-ins; the managers only pass them on.
  struct NoPages : TVEXPageManager {
    void InternalAddPage(TVEXPage*) override {}
    void InternalRemovePage(int32_t) override {}
    bool InternalReadPage(TVEXPage*) override { return false; }
    void InternalWritePage(TVEXPage*) override {}
  };
  NoPages TablePages;
  NoPages TempPages;
  FakeIndexStore Store;
  int32_t NextObjectId = 1000;
  TVEXBaseFieldManager Fields;
  TVEXBaseIndexManager Indexes;
  TVEXBaseConstraintManager Constraints;
  std::unique_ptr<FakeRecordManager> Records;
};

inline const std::map<int32_t, std::vector<uint8_t>>& FakeIndex::Records() const {
  return static_cast<FakeRecordManager*>(FIndexManager->TableData().GetRecordManager())->Records;
}

inline std::string FakeIndex::Key(const uint8_t* Record) const {
  const TVEXFieldDefs& fields = FIndexManager->TableData().GetFieldManager()->FieldDefs();
  std::string key;
  for (int32_t c = 0; c < FIndexDef->ColumnCount(); ++c) {
    const int32_t fieldNo = fields.GetDefNumberByName(FIndexDef->GetIndexColumn(c)->FieldName);
    const TVEXFieldDef* field = fields.GetDef(fieldNo);
    const bool null = GetBitFromBuffer(fieldNo, Record);
    key.push_back(null ? '\0' : '\1');
    if (!null)
      key.append(reinterpret_cast<const char*>(Record + field->MemoryOffset),
                 field->MemoryDataSize);
  }
  return key;
}

}  // namespace vex::testing
