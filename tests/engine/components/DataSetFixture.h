// A dataset over one table of its database, for the dataset component's
// tests and workers: it opens a local cursor on the table as a table
// component would, and reads and writes fields straight through the cursor.
#pragma once

#include <cstring>
#include <memory>
#include <string>

#include "components/VEXDataSet.h"
#include "components/VEXDatabase.h"
#include "components/VEXLocalCursor.h"
#include "components/VEXLocalEngine.h"
#include "db/Fields.h"
#include "engine/storage/VEXManagerFakes.h"
#include "storage/VEXMetaDefs.h"

namespace vextest {

class TableDataSet : public vex::TVEXDataSet {
 public:
  explicit TableDataSet(rtl::TComponent* AOwner = nullptr) : vex::TVEXDataSet(AOwner) {}

  std::string TableName;

  using vex::TVEXDataSet::GetActiveRecordBuffer;
  using vex::TVEXDataSet::InitRecord;
  using vex::TVEXDataSet::SwitchToIndex;

  bool GetFieldData(db::TField* Field, void* Buffer) override {
    uint8_t* record = GetActiveRecordBuffer();
    if (record == nullptr || Handle() == nullptr) return false;
    return Handle()->GetFieldData(Field->FieldNo() - 1, Buffer, record);
  }
  void SetFieldData(db::TField* Field, const void* Buffer) override {
    Handle()->SetFieldData(Field->FieldNo() - 1, Buffer, GetActiveRecordBuffer());
    DataEvent(db::deFieldChange, *Field);
  }

  // The flag byte and record id of a record buffer.
  uint8_t FlagOf(const uint8_t* Buffer) const { return Buffer[Handle()->BookmarkOffset() + 6]; }
  vex::TVEXPageItemID IdOf(const uint8_t* Buffer) const {
    vex::TVEXPageItemID id{};
    std::memcpy(&id, Buffer + Handle()->BookmarkOffset(), 6);
    return id;
  }

 protected:
  vex::TVEXCursor* CreateHandle() override {
    auto cursor = std::make_unique<vex::TVEXLocalCursor>();
    cursor->SetSession(Database()->Handle());
    cursor->SetTableName(TableName);
    cursor->SetInMemory(InMemory());
    vex::TVEXFieldDefs fields;
    vex::TVEXIndexDefs indexes;
    vex::TVEXConstraintDefs constraints;
    cursor->OpenTableByFieldDefs(fields, indexes, constraints);
    return cursor.release();
  }
};

// A new database file at Path with the table Counter (ID Integer, NAME
// Varchar(10) NOT NULL, N Integer) and no record.
inline void CreateCounterFile(const std::string& Path) {
  {
    vex::TVEXLocalSession creator;
    creator.SetDatabaseName("New");
    creator.SetDatabaseFileName(Path);
    creator.SetPageSize(8192);
    creator.SetPageCountInExtent(4);
    creator.SetMaxSessionCount(16);
    creator.CreateDatabase();
  }
  vex::TVEXLocalSession session;
  session.SetDatabaseName("Maker");
  session.SetDatabaseFileName(Path);
  session.SetMultiUser(true);
  session.SetConnected(true);
  vex::TVEXFieldDefs f;
  vex::testing::AddField(f, "ID", vex::aftInteger);
  vex::testing::AddField(f, "NAME", vex::aftString, 10);
  vex::testing::AddField(f, "N", vex::aftInteger);
  vex::TVEXIndexDefs i;
  vex::TVEXConstraintDefs c;
  auto notNull = std::make_unique<vex::TVEXConstraintDefNotNull>();
  notNull->Name = "NAME_REQUIRED";
  notNull->SetNames("NAME", "Counter", "");
  c.InternalAdd(std::move(notNull));
  vex::TVEXLocalCursor maker;
  maker.SetSession(&session);
  maker.SetTableName("Counter");
  maker.CreateTable(f, i, c);
  session.SetConnected(false);
}

// A multi-user database component "Hotel" on Path in Session (which owns it).
inline vex::TVEXDatabase& AddHotel(vex::TVEXSession& Session, const std::string& Path) {
  auto* database = new vex::TVEXDatabase(&Session);
  database->SetDatabaseName("Hotel");
  database->SetDatabaseFileName(Path);
  database->SetMultiUser(true);
  database->SetSilentMode(true);
  return *database;
}

}  // namespace vextest
