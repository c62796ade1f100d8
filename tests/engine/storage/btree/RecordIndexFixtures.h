// A table whose index manager makes B-tree indexes on fake page stores, with
// records in the fake record manager, a cursor that stands on one record, and
// the record scan that fills a new index.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/storage/FakePageStore.h"
#include "engine/storage/VEXTableFakes.h"
#include "storage/btree/VEXBTreeRecordIndex.h"

namespace vex::testing {

class IndexCursor : public TVEXManagerCursor {
 public:
  IndexCursor(int32_t SessionID, const TVEXFieldDefs& FieldDefs)
      : FSessionID(SessionID), FFieldDefs(FieldDefs) {}
  int32_t GetSessionID() const override { return FSessionID; }
  TVEXPageItemID GetCurrentRecordID() const override { return RecordID; }
  uint8_t* GetCurrentRecordBuffer() const override { return const_cast<uint8_t*>(Record.data()); }
  const TVEXFieldDefs& GetFieldDefs() const override { return FFieldDefs; }
  // The tests fill indexes through their own record scan, not the seam's.
  TVEXCursor& GetCursor() override { throw std::logic_error("a test cursor has no TVEXCursor"); }
  const uint8_t* GetEditRecordBuffer() const override {
    return Edit.empty() ? nullptr : Edit.data();
  }

  TVEXPageItemID RecordID{-1, 0};
  std::vector<uint8_t> Record;
  std::vector<uint8_t> Edit;

 private:
  int32_t FSessionID;
  const TVEXFieldDefs& FFieldDefs;
};

// Reads the fake record manager's records in page-number order.
class MapScan : public TVEXIndexRecordScan {
 public:
  MapScan(const std::map<int32_t, std::vector<uint8_t>>& Records, int32_t SessionID,
          const TVEXFieldDefs& FieldDefs)
      : FRecords(Records), FIt(Records.begin()), FCursor(SessionID, FieldDefs) {}
  bool Next() override {
    if (!FStarted) {
      FStarted = true;
    } else {
      ++FIt;
    }
    if (FIt == FRecords.end()) return false;
    FCursor.RecordID = {FIt->first, 0};
    FCursor.Record = FIt->second;
    return true;
  }
  TVEXManagerCursor& Cursor() override { return FCursor; }

 private:
  const std::map<int32_t, std::vector<uint8_t>>& FRecords;
  std::map<int32_t, std::vector<uint8_t>>::const_iterator FIt;
  bool FStarted = false;
  IndexCursor FCursor;
};

class BTreeTable : public TVEXManagedTable, public TVEXIndexRecordScanner {
 public:
  explicit BTreeTable(uint16_t pageSize = 4096)
      : Pages(pageSize, 40),
        TempPages(pageSize, 0),
        Fields(this),
        Indexes(*this, &TempPages, [this](TVEXBaseIndexManager& m) {
          return std::make_unique<TVEXBTreeRecordIndex>(&m, this);
        }) {}

  // The record store, sized from the fields (call once the fields are in).
  void Open() {
    Fields.RecalcFieldOffsets();
    Records = std::make_unique<FakeRecordManager>(Fields.FieldDefs().GetMemoryRecordBufferSize());
  }

  int32_t GetNewObjectId() override { return NextObjectId++; }
  TVEXPageManager* GetPageManager() const override { return &Self().Pages; }
  TVEXBaseFieldManager* GetFieldManager() const override { return &Self().Fields; }
  TVEXBaseIndexManager* GetIndexManager() const override { return &Self().Indexes; }
  TVEXBaseRecordManager* GetRecordManager() const override { return Records.get(); }
  bool IsUniqueConstraintFailed(int32_t, int32_t, const uint8_t*, const uint8_t*, bool,
                                TVEXPageItemID) override {
    return false;
  }
  std::unique_ptr<TVEXIndexRecordScan> OpenRecordScan(TVEXManagerCursor& Cursor) override {
    return std::make_unique<MapScan>(Records->Records, Cursor.GetSessionID(), Fields.FieldDefs());
  }

  const TVEXFieldDefs& Defs() const { return Fields.FieldDefs(); }
  IndexCursor Cursor(int32_t SessionID = 1) { return IndexCursor(SessionID, Defs()); }

  // A new record: stored first, then entered into every index.
  TVEXPageItemID Insert(const std::vector<uint8_t>& record, int32_t SessionID = 1) {
    IndexCursor cursor = Cursor(SessionID);
    cursor.Record = record;
    Records->AddRecord(SessionID, record.data(), cursor.RecordID);
    Indexes.InsertRecord(cursor);
    return cursor.RecordID;
  }
  void Update(TVEXPageItemID id, const std::vector<uint8_t>& record, int32_t SessionID = 1) {
    IndexCursor cursor = Cursor(SessionID);
    cursor.RecordID = id;
    cursor.Edit = Records->Records.at(id.PageNo);
    cursor.Record = record;
    Indexes.UpdateRecord(cursor, true);
    Records->UpdateRecord(SessionID, record.data(), id);
    Indexes.UpdateRecord(cursor, false);
  }
  void Delete(TVEXPageItemID id, int32_t SessionID = 1) {
    IndexCursor cursor = Cursor(SessionID);
    cursor.RecordID = id;
    cursor.Record.resize(static_cast<size_t>(Records->RecordBufferSize()));
    Indexes.DeleteRecord(cursor);
    Records->DeleteRecord(SessionID, id);
  }

  // An index on the named columns (each "name" or "name desc"), cut at
  // maxIndexedSize, created now (filled from the records there are).
  TVEXBTreeRecordIndex& AddIndex(std::initializer_list<const char*> columns, bool unique = false,
                                 int32_t maxIndexedSize = 20, int32_t SessionID = 1) {
    TVEXIndexDef def;
    def.Name = "IX" + std::to_string(NextObjectId);
    def.Unique = unique;
    def.SetColumnCount(static_cast<int32_t>(columns.size()));
    int32_t c = 0;
    for (const char* column : columns) {
      std::string name(column);
      TVEXIndexColumn* col = def.GetIndexColumn(c++);
      col->Descending = name.size() > 5 && name.substr(name.size() - 5) == " desc";
      col->FieldName = col->Descending ? name.substr(0, name.size() - 5) : name;
      col->MaxIndexedSize = maxIndexedSize;
    }
    IndexCursor cursor = Cursor(SessionID);
    const int32_t id = Indexes.CreateIndex(&cursor, def);
    return static_cast<TVEXBTreeRecordIndex&>(*Indexes.OpenIndex(id));
  }

  BTreeTable& Self() const { return const_cast<BTreeTable&>(*this); }

  FakePageStore Pages;
  FakePageStore TempPages;
  int32_t NextObjectId = 1000;
  TVEXBaseFieldManager Fields;
  TVEXBaseIndexManager Indexes;
  std::unique_ptr<FakeRecordManager> Records;
};

}  // namespace vex::testing
