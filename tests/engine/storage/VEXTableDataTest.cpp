// The shared table object over the fake engine: table creation, DDL and its
// refusals, indexes with their constraints, the per-operation change set.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "FakePageStore.h"
#include "VEXDatabaseFakes.h"
#include "VEXManagerFakes.h"
#include "rtl/Lists.h"
#include "storage/VEXTableData.h"

namespace vex {
namespace {

using testing::AddField;
using testing::ExpectVEXError;
using testing::FakeDatabaseData;
using testing::FakePageStore;
using testing::FakeTableData;
using testing::NullRecord;
using testing::TestCursor;
using testing::TestSession;

rtl::TStringList List(std::initializer_list<const char*> items) {
  rtl::TStringList list;
  for (const char* item : items) list.Add(item);
  return list;
}

// Sets the process-wide design flag for one scope.
struct DesignTime {
  explicit DesignTime(bool on) { SetDesignMode(on); }
  ~DesignTime() { SetDesignMode(false); }
};

// A "Guests" table of a database file: Id (autoincrement), Name, City, with a
// unique index on Name.
class TableDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session.SetConnected(true);
    table = static_cast<FakeTableData*>(db.FindOrCreateTableData(cursor));
    TVEXFieldDefs fields;
    AddField(fields, "Id", aftAutoInc);
    AddField(fields, "Name", aftString, 10);
    AddField(fields, "City", aftString, 10);
    TVEXIndexDefs indexes;
    TVEXIndexDef* byName = indexes.AddCreated();
    byName->Name = "ByName";
    byName->Unique = true;
    byName->AssignByNames(List({"Name"}), List({"ASC"}), List({"CASE"}));
    TVEXConstraintDefs constraints;
    table->CreateTable(&cursor, fields, indexes, constraints);
    cursor.FieldDefs().Assign(table->FieldManager()->FieldDefs());
    table->OpenTable(cursor);
  }

  TVEXFieldDefs& Fields() { return table->FieldManager()->FieldDefs(); }
  TVEXIndexDefs& Indexes() { return table->IndexManager()->IndexDefs(); }
  int32_t IndexID(const char* name) { return Indexes().GetIndexDefByName(name)->ObjectID; }

  void Insert(const char* name, const char* city) {
    cursor.Record = NullRecord(Fields());
    auto text = [&](int32_t fieldNo, const char* value) {
      std::memcpy(cursor.Record.data() + Fields().GetDef(fieldNo)->MemoryOffset, value,
                  std::strlen(value) + 1);
      SetBitInBuffer(false, fieldNo, cursor.Record.data());
    };
    text(1, name);
    text(2, city);
    table->FieldManager()->ApplyAutoincsToRecordBuffer(session, cursor.Record.data());
    table->Insert(cursor);
  }

  FakePageStore pages;
  FakeDatabaseData db{&pages};
  TestSession session{&db};
  TestCursor cursor{session, "Guests"};
  FakeTableData* table = nullptr;
};

TEST_F(TableDataTest, CreationGivesEveryDefinitionADatabaseIdAndSizesTheCursor) {
  for (int32_t i = 0; i < Fields().Count(); ++i) EXPECT_EQ(Fields().GetDef(i)->ObjectID, 1 + i);
  EXPECT_EQ(Indexes().GetDef(0)->ObjectID, 4);
  ASSERT_EQ(table->ConstraintManager()->ConstraintDefs().Count(), 0);

  table->InitCursorBuffers(cursor);
  EXPECT_EQ(cursor.FieldValuesOffset(), 1) << "after the null bitmap";
  EXPECT_EQ(cursor.RecordSize(), Fields().GetMemoryRecordBufferSize());
  EXPECT_EQ(table->RecordManager()->RecordBufferSize(), cursor.RecordSize());
}

TEST_F(TableDataTest, DDLIsRefusedWithItsCodes) {
  TestCursor other(session, "Other");
  auto* empty = static_cast<FakeTableData*>(db.FindOrCreateTableData(other));
  TVEXFieldDefs noFields;
  TVEXIndexDefs noIndexes;
  TVEXConstraintDefs foreignKey;
  foreignKey.AddUnique()->ConstraintType = ctFK;
  TVEXFieldDefs someFields;
  AddField(someFields, "A", aftInteger);
  TVEXConstraintDefs noConstraints;

  struct Case {
    const char* What;
    int32_t Code;
    std::function<void()> Run;
  } cases[] = {
      {"rename a table a cursor has open", 10150, [&] { table->RenameTable("Visitors", nullptr); }},
      {"... also at design time", 10150,
       [&] {
         DesignTime on(true);
         table->RenameTable("Visitors", nullptr);
       }},
      {"delete a table a cursor has open", 20017, [&] { table->DeleteTable(nullptr, false); }},
      {"rename a field that does not exist", 30343, [&] { table->RenameField("Phone", "Tel"); }},
      {"rename a field onto another's name", 30344, [&] { table->RenameField("Name", "City"); }},
      {"... in another letter case", 30344, [&] { table->RenameField("Name", "NAME"); }},
      {"create with a foreign key", 30058,
       [&] { empty->CreateTable(&other, someFields, noIndexes, foreignKey); }},
      {"create without fields", 10131,
       [&] { empty->CreateTable(&other, noFields, noIndexes, noConstraints); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string message = ExpectVEXError(c.Code, c.Run);
    if (c.Code == 10150) {
      EXPECT_EQ(message,
                "Cannot rename table 'Guests'. Table is open by another dataset - Native error: "
                "10150");
    }
  }
  EXPECT_EQ(table->TableName(), "Guests");
  EXPECT_NE(Fields().GetFieldDefByName("Name"), nullptr);

  // What the refusals leave possible.
  table->DeleteTable(nullptr, true);  // a designer may
  {
    DesignTime on(true);
    TVEXFieldDefs none;
    TVEXConstraintDefs nothing;
    empty->CreateTable(&other, none, noIndexes, nothing);
  }
  table->CloseTable(cursor);
  table->RenameTable("Visitors", nullptr);
  EXPECT_EQ(table->TableName(), "Visitors");
  table->RenameField("name", "Guest");
  EXPECT_EQ(Fields().GetDef(1)->Name, "Guest");
  EXPECT_EQ(Indexes().GetIndexDef(0)->GetIndexColumn(0)->FieldName, "Guest");
}

TEST_F(TableDataTest, EmptyTableRestartsAutoincrementsAndEmptiesTheIndexes) {
  Insert("Ann", "Oslo");
  Insert("Bob", "Rome");
  EXPECT_EQ(table->FieldManager()->LastAutoIncValues()[0], 2);
  const int32_t root = Indexes().GetIndexDef(0)->RootPageNo;
  EXPECT_EQ(table->Store.Roots.at(root).size(), 2u);

  table->Records()->Empty(session.SessionID());
  table->EmptyTable(&cursor);
  EXPECT_EQ(table->FieldManager()->LastAutoIncValues()[0], 0);
  EXPECT_TRUE(table->Store.Roots.at(root).empty());
  Insert("Cid", "Bern");
  EXPECT_EQ(testing::GetField<int32_t>(Fields(), cursor.Record, 0), 1);
}

TEST_F(TableDataTest, FindOrCreateIndexLeavesTheCursorWhereItStood) {
  Insert("Ann", "Oslo");
  cursor.CurrentRecordID = {5, 3};
  cursor.FirstPosition = false;
  cursor.LastPosition = true;
  auto expectInPlace = [&] {
    EXPECT_EQ(cursor.CurrentRecordID.PageNo, 5);
    EXPECT_EQ(cursor.CurrentRecordID.PageItemNo, 3);
    EXPECT_FALSE(cursor.FirstPosition);
    EXPECT_TRUE(cursor.LastPosition);
  };

  bool created = true;
  EXPECT_EQ(
      table->FindOrCreateIndex(cursor, List({"Name"}), List({"ASC"}), List({"CASE"}), created),
      "ByName");
  EXPECT_FALSE(created);
  expectInPlace();
  EXPECT_TRUE(table->IndexExists(cursor, List({"Name"}), List({"ASC"}), List({"CASE"})));
  EXPECT_FALSE(table->IndexExists(cursor, List({"City"}), List({"ASC"}), List({"CASE"})));

  const std::string temp =
      table->FindOrCreateIndex(cursor, List({"City"}), List({"ASC"}), List({"CASE"}), created);
  EXPECT_TRUE(created);
  EXPECT_EQ(temp.rfind("TEMPORARY_INDEX_", 0), 0u) << temp;
  expectInPlace();

  // A failure cancels the session's change set and still puts the cursor back.
  TVEXPage* page = pages.AddPage(session.SessionID(), 10);
  pages.PutPage(page);
  table->Store.FailNextCreate = true;
  ExpectVEXError(20119, [&] {
    table->FindOrCreateIndex(cursor, List({"Id"}), List({"ASC"}), List({"CASE"}), created);
  });
  expectInPlace();
  EXPECT_EQ(pages.DirtyCount(session.SessionID()), 0);
  EXPECT_EQ(pages.Writes, 0);
  EXPECT_EQ(Indexes().Count(), 2) << "no definition of the failed index";
}

TEST_F(TableDataTest, AnIndexAndItsConstraintComeAndGoTogether) {
  TVEXConstraintDefs& constraints = table->ConstraintManager()->ConstraintDefs();
  cursor.CurrentRecordID = {9, 1};

  TVEXIndexDef byCity;
  byCity.Name = "ByCity";
  byCity.Unique = true;
  byCity.AssignByNames(List({"City"}), List({"ASC"}), List({"CASE"}));
  table->AddIndex(byCity, cursor);
  ASSERT_EQ(constraints.Count(), 1);
  EXPECT_EQ(constraints.GetDef(0)->Name, "C_Unique$City");
  EXPECT_EQ(cursor.CurrentRecordID.PageNo, 9);

  // A temporary cursor's index carries no constraint; a failed build leaves
  // the cursor where it was.
  TestCursor temporary(session, "Guests");
  temporary.SetTemporary(true);
  temporary.FieldDefs().Assign(Fields());
  TVEXIndexDef byBoth;
  byBoth.Name = "ByBoth";
  byBoth.Unique = true;
  byBoth.AssignByNames(List({"Name", "City"}), List({"ASC", "ASC"}), List({"CASE", "CASE"}));
  table->AddIndex(byBoth, temporary);
  EXPECT_EQ(constraints.Count(), 1);
  table->Store.FailNextCreate = true;
  TVEXIndexDef broken;
  broken.Name = "Broken";
  broken.AssignByNames(List({"Id"}), List({"ASC"}), List({"CASE"}));
  ExpectVEXError(20119, [&] { table->AddIndex(broken, cursor); });
  EXPECT_EQ(cursor.CurrentRecordID.PageNo, 9);

  table->DeleteIndex(byCity.ObjectID, &cursor);
  EXPECT_EQ(constraints.Count(), 0);
  table->DeleteAllIndexes(&cursor);
  EXPECT_EQ(Indexes().Count(), 0);
}

TEST_F(TableDataTest, UniqueTestOpensNoIndexOnAnEmptyTable) {
  const int32_t id = IndexID("ByName");
  table->IndexManager()->CloseIndex(id);
  std::vector<uint8_t> record = NullRecord(Fields());
  EXPECT_FALSE(table->IsUniqueConstraintFailed(0, id, record.data(), nullptr, true, {-1, 0}));
  EXPECT_EQ(table->IndexManager()->FindOpenIndex(id), nullptr);

  Insert("Ann", "Oslo");
  std::vector<uint8_t> same = cursor.Record;
  EXPECT_TRUE(table->IsUniqueConstraintFailed(0, id, same.data(), nullptr, true, {-1, 0}));
}

// Outside a transaction an operation is its own change set; inside, its
// changes wait for the database's commit.
TEST_F(TableDataTest, AnOperationCommitsItsOwnChangeSetOrCancelsIt) {
  auto changePage = [&] {
    TVEXPage* page = pages.AddPage(session.SessionID(), 10);
    const int32_t number = page->PageNo();
    pages.PutPage(page);
    return number;
  };

  int32_t committed;
  {
    TVEXTableOperation operation(*table, cursor);
    committed = changePage();
    operation.Commit();
  }
  EXPECT_EQ(pages.WritesOf[committed], 1);

  int32_t failed = -1;
  EXPECT_THROW(
      {
        TVEXTableOperation operation(*table, cursor);
        failed = changePage();
        throw EVEXException(20001, "failed");
      },
      EVEXException);
  EXPECT_EQ(pages.DirtyCount(session.SessionID()), 0);
  EXPECT_EQ(pages.Allocated.count(failed), 0u);

  session.StartTransaction();
  int32_t waiting;
  {
    TVEXTableOperation operation(*table, cursor);
    waiting = changePage();
    operation.Commit();
  }
  EXPECT_EQ(pages.WritesOf.count(waiting), 0u);
  session.Commit(false);
  EXPECT_EQ(pages.WritesOf[waiting], 1);
  EXPECT_EQ(pages.Violations, 0);
}

TEST_F(TableDataTest, RollbackRebuildsTheTemporaryIndexesOfTheSessionsCursors) {
  Insert("Ann", "Oslo");
  bool created = false;
  table->FindOrCreateIndex(cursor, List({"City"}), List({"ASC"}), List({"CASE"}), created);
  ASSERT_TRUE(created);
  table->Records()->Touch();  // another connection changed the table

  db.Rollback(7);  // no cursor of session 7 is open
  EXPECT_EQ(table->Store.Rebuilds, 0);
  db.Rollback(session.SessionID());
  EXPECT_EQ(table->Store.Rebuilds, 1);
}

}  // namespace
}  // namespace vex
