#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "VEXTableFakes.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXStream.h"
#include "rtl/Lists.h"
#include "storage/VEXIndexManager.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testing::AddField;
using testing::FakeCursor;
using testing::FakeIndex;
using testing::FakeTable;
using testing::NullRecord;
using testsupport::CodeOf;

rtl::TStringList List(std::initializer_list<const char*> items) {
  rtl::TStringList list;
  for (const char* item : items) list.Add(item);
  return list;
}

// "TEMPORARY_INDEX_" and a GUID in braces: 8-4-4-4-12 hexadecimal digits.
bool IsTemporaryIndexName(const std::string& name) {
  const std::string prefix = "TEMPORARY_INDEX_{";
  const std::string shape = "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  if (name.size() != prefix.size() + shape.size() || name.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  for (size_t i = 0; i < shape.size(); ++i) {
    const char c = name[prefix.size() + i];
    if (shape[i] == 'X' ? !std::isxdigit(static_cast<unsigned char>(c)) : c != shape[i])
      return false;
  }
  return true;
}

class IndexManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddField(Fields(), "Name", aftString, 10);
    AddField(Fields(), "City", aftString, 10);
    AddField(Fields(), "Age", aftInteger);
    Table.Open();
  }

  TVEXFieldDefs& Fields() { return Table.Fields.FieldDefs(); }
  TVEXBaseIndexManager& Indexes() { return Table.Indexes; }

  // Fills the cursor's record with the three fields (an empty text: null).
  void Fill(FakeCursor& cursor, const std::string& name, const std::string& city, int32_t age) {
    cursor.Record = NullRecord(Fields());
    auto text = [&](int32_t fieldNo, const std::string& value) {
      if (value.empty()) return;
      std::memcpy(cursor.Record.data() + Fields().GetDef(fieldNo)->MemoryOffset, value.c_str(),
                  value.size() + 1);
      SetBitInBuffer(false, fieldNo, cursor.Record.data());
    };
    text(0, name);
    text(1, city);
    testing::SetField<int32_t>(Fields(), cursor.Record, 2, age);
  }

  TVEXPageItemID Insert(const std::string& name, const std::string& city, int32_t age) {
    FakeCursor cursor(1, Fields());
    Fill(cursor, name, city, age);
    Table.Insert(cursor);
    return cursor.RecordID;
  }

  int32_t CreatePermanent(const std::string& name, const char* field, bool unique) {
    TVEXIndexDef def;
    def.Name = name;
    def.Unique = unique;
    def.AssignByNames(List({field}), List({"ASC"}), List({"CASE"}));
    return Indexes().CreateIndex(nullptr, def);
  }

  const TVEXIndexDef& Def(int32_t id) {
    return *static_cast<TVEXIndexDef*>(Indexes().IndexDefs().GetDefByObjectId(id));
  }

  // Integrity walk: every index holds exactly one entry per stored record,
  // keyed by that record, and every definition is as current as the table.
  void CheckIndexes() {
    for (int32_t i = 0; i < Indexes().IndexDefs().Count(); ++i) {
      const TVEXIndexDef& def = *Indexes().IndexDefs().GetIndexDef(i);
      SCOPED_TRACE(def.Name.str());
      EXPECT_EQ(def.TableState, Table.Records->TableState());
      auto* index = static_cast<FakeIndex*>(Indexes().OpenIndex(def.ObjectID));
      std::multiset<std::pair<std::string, int32_t>> expected;
      for (const auto& [pageNo, record] : Table.Records->Records) {
        expected.insert({index->Key(record.data()), pageNo});
      }
      EXPECT_EQ(Table.Store.Roots.at(def.RootPageNo), expected);
    }
  }

  FakeTable Table;
};

TEST_F(IndexManagerTest, TemporaryIndexesAreMadePerSessionAndFoundAgain) {
  Insert("Ann", "Oslo", 30);
  Insert("Bob", "Rome", 40);
  FakeCursor first(1, Fields()), second(2, Fields());
  const auto names = List({"City"}), dirs = List({"ASC"}), cases = List({"CASE"});

  bool created = false;
  const int32_t id = Indexes().FindOrCreateIndex(first, names, dirs, cases, created);
  EXPECT_TRUE(created);
  const TVEXIndexDef& def = Def(id);
  EXPECT_TRUE(IsTemporaryIndexName(def.Name.str())) << def.Name.str();
  EXPECT_TRUE(def.Temporary);
  EXPECT_FALSE(def.Unique);
  EXPECT_FALSE(def.Primary);
  EXPECT_EQ(def.SessionID, 1);
  EXPECT_EQ(def.TableState, Table.Records->TableState());
  EXPECT_EQ(def.GetIndexColumn(0)->MaxIndexedSize, 20);
  EXPECT_EQ(Table.Store.Roots.at(def.RootPageNo).size(), 2u) << "filled from the table";
  EXPECT_EQ(Table.Store.PageManagers.at(def.Name.str()), &Table.TempPages);

  EXPECT_EQ(Indexes().FindOrCreateIndex(first, names, dirs, cases, created), id);
  EXPECT_FALSE(created);
  const int32_t other = Indexes().FindOrCreateIndex(second, names, dirs, cases, created);
  EXPECT_TRUE(created);
  EXPECT_NE(other, id);
  EXPECT_EQ(Indexes().FindOrCreateIndex(second, names, dirs, cases, created), other);
  EXPECT_FALSE(created);

  // Temporary indexes are never stored with the table.
  const int32_t permanent = CreatePermanent("ByName", "Name", false);
  EXPECT_EQ(Table.Store.PageManagers.at("ByName"), &Table.TablePages);
  TVEXMemoryStream stream;
  Indexes().SaveMetadata(stream);
  stream.Seek(0, rtl::soFromBeginning);
  TVEXIndexDefs loaded;
  loaded.LoadFromStream(stream);
  ASSERT_EQ(loaded.Count(), 1);
  EXPECT_EQ(loaded.GetIndexDef(0)->ObjectID, permanent);
}

TEST_F(IndexManagerTest, SynchronisationRebuildsATemporaryIndexOnceWhenTheTableMoved) {
  Insert("Ann", "Oslo", 30);
  FakeCursor cursor(1, Fields());
  CreatePermanent("ByName", "Name", false);
  bool created = false;
  const int32_t id =
      Indexes().FindOrCreateIndex(cursor, List({"City"}), List({""}), List({""}), created);
  bool changed = true;
  Indexes().SynchronizeTemporaryIndexes(cursor, changed);
  EXPECT_FALSE(changed) << "nothing moved yet";

  // Another connection changes the table: its record store moves on.
  Table.Records->Touch();
  // A rebuild's own table scan would ask again; that inner call must not
  // start a second rebuild.
  bool innerChanged = true;
  Table.Store.OnRebuild = [&] { Indexes().SynchronizeTemporaryIndexes(cursor, innerChanged); };
  Indexes().SynchronizeTemporaryIndexes(cursor, changed);
  EXPECT_TRUE(changed);
  EXPECT_FALSE(innerChanged);
  EXPECT_EQ(Table.Store.Rebuilds, 1) << "the temporary index once, the permanent one never";
  EXPECT_EQ(Def(id).TableState, Table.Records->TableState());

  Indexes().SynchronizeTemporaryIndexes(cursor, changed);
  EXPECT_FALSE(changed);
  EXPECT_EQ(Table.Store.Rebuilds, 1);

  // The rebuilt index is found again after it was closed.
  Indexes().CloseIndex(id);
  EXPECT_EQ(Indexes().FindOpenIndex(id), nullptr);
  EXPECT_EQ(Indexes().OpenIndex(id)->IndexDef()->RootPageNo, Def(id).RootPageNo);
  EXPECT_EQ(Table.Store.Roots.count(Def(id).RootPageNo), 1u);
}

TEST_F(IndexManagerTest, RecordChangesKeepEveryIndexInStepWithTheTable) {
  CreatePermanent("ByName", "Name", false);
  CreatePermanent("ByAge", "Age", true);
  FakeCursor other(2, Fields());
  bool created = false;
  Indexes().FindOrCreateIndex(other, List({"City", "Name"}), List({"", ""}), List({"", ""}),
                              created);
  ASSERT_TRUE(created);
  CheckIndexes();

  std::mt19937 random(24);
  std::vector<TVEXPageItemID> ids;
  const char* names[] = {"", "Ann", "Bob", "Cy"};
  const char* cities[] = {"", "Oslo", "Rome"};
  for (int step = 0; step < 200; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    FakeCursor cursor(1 + static_cast<int32_t>(random() % 2), Fields());
    const unsigned action = ids.empty() ? 0 : random() % 3;
    if (action == 0) {
      Fill(cursor, names[random() % 4], cities[random() % 3], step);
      Table.Insert(cursor);
      ids.push_back(cursor.RecordID);
    } else {
      const size_t pick = random() % ids.size();
      cursor.RecordID = ids[pick];
      cursor.Record = Table.Records->Records.at(int32_t{ids[pick].PageNo});
      if (action == 1) {
        Fill(cursor, names[random() % 4], cities[random() % 3], 1000 + step);
        Table.Update(cursor);
      } else {
        Table.Delete(cursor);
        ids.erase(ids.begin() + static_cast<std::ptrdiff_t>(pick));
      }
    }
    CheckIndexes();
    if (::testing::Test::HasFailure()) return;
  }
}

TEST_F(IndexManagerTest, DeletingARecordAnotherConnectionRemovedLeavesTheIndexesAlone) {
  CreatePermanent("ByName", "Name", false);
  FakeCursor cursor(1, Fields());
  Fill(cursor, "Ann", "Oslo", 1);
  Table.Insert(cursor);
  const TVEXIndexDef& def = *Indexes().IndexDefs().GetIndexDef(0);
  const int32_t stateBefore = def.TableState;
  TVEXPageItemID gone = cursor.RecordID;
  Table.Records->DeleteRecord(2, gone);

  Indexes().DeleteRecord(cursor);
  EXPECT_EQ(def.TableState, stateBefore);
  EXPECT_EQ(Table.Store.Roots.at(def.RootPageNo).size(), 1u);
}

TEST_F(IndexManagerTest, MovingFromARecordThatIsGoneAsksForTheClosestEntry) {
  const int32_t id = CreatePermanent("ByName", "Name", false);
  const TVEXPageItemID kept = Insert("Ann", "Oslo", 1);
  const TVEXPageItemID removed = Insert("Bob", "Rome", 2);
  TVEXPageItemID gone = removed;
  Table.Records->DeleteRecord(2, gone);
  std::vector<uint8_t> buffer = NullRecord(Fields());
  struct Case {
    const char* Name;
    TVEXPageItemID RecordID;
    bool FirstPosition;
    const char* Expected;
  };
  const Case cases[] = {
      {"on a stored record", kept, false, "GetRecordBuffer"},
      {"on a record that is gone", removed, false, "GetClosestRecordBuffer"},
      {"before the first record", removed, true, "GetRecordBuffer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TVEXNavigationInfo info;
    info.GetRecordMode = grmNext;
    info.IndexID = id;
    info.RecordID = c.RecordID;
    info.RecordBuffer = buffer.data();
    info.FirstPosition = c.FirstPosition;
    Indexes().GetRecordBuffer(1, info, nullptr, Table.Records->TableState());
    EXPECT_EQ(static_cast<FakeIndex*>(Indexes().FindOpenIndex(id))->LastCall, c.Expected);
    EXPECT_EQ(info.GetRecordMode, grmNext) << "the caller's step is passed on unchanged";
  }
}

TEST_F(IndexManagerTest, CreatingTakesANewIdAndAFailedBuildLeavesNoDefinition) {
  Insert("Ann", "Oslo", 1);
  TVEXIndexDef def;
  def.Name = "ByCity";
  def.AssignByNames(List({"City"}), List({""}), List({""}));
  FakeCursor cursor(1, Fields());
  const int32_t id = Indexes().CreateIndex(&cursor, def);
  EXPECT_EQ(id, 1000);
  EXPECT_EQ(def.ObjectID, 1000) << "the caller's definition takes the id";
  EXPECT_EQ(Def(id).RootPageNo, def.RootPageNo);
  EXPECT_GE(def.RootPageNo, 1);
  EXPECT_EQ(Indexes().FindOpenIndex(id), nullptr) << "the building object is not kept open";

  TVEXIndexDef failing;
  failing.Name = "Broken";
  failing.AssignByNames(List({"Age"}), List({""}), List({""}));
  Table.Store.FailNextCreate = true;
  EXPECT_EQ(CodeOf([&] { Indexes().CreateIndex(&cursor, failing); }), 20119);
  EXPECT_EQ(Indexes().IndexDefs().Count(), 1);
  EXPECT_EQ(Indexes().IndexDefs().GetDefByName("Broken"), nullptr);
  EXPECT_EQ(Table.NextObjectId, 1002) << "the failed index's id is spent";
}

TEST_F(IndexManagerTest, DroppingOpensTheIndexFirstAndTemporaryOnesGoTogether) {
  const int32_t permanent = CreatePermanent("ByName", "Name", false);
  FakeCursor first(1, Fields()), second(2, Fields());
  bool created = false;
  Indexes().FindOrCreateIndex(first, List({"City"}), List({""}), List({""}), created);
  Indexes().FindOrCreateIndex(second, List({"Age"}), List({""}), List({""}), created);
  ASSERT_EQ(Indexes().IndexDefs().Count(), 3);

  EXPECT_EQ(CodeOf([&] { Indexes().DropIndex(1, 4711); }), 20018);
  EXPECT_EQ(CodeOf([&] { Indexes().OpenIndex(4711); }), 20018);

  Indexes().DropTemporaryIndexes(1);
  ASSERT_EQ(Indexes().IndexDefs().Count(), 1);
  EXPECT_EQ(Indexes().IndexDefs().GetIndexDef(0)->ObjectID, permanent);
  EXPECT_EQ(Table.Store.Drops, 2);

  // Never opened: the drop opens it, frees its pages and closes it again.
  const int32_t root = Def(permanent).RootPageNo;
  Indexes().DropIndex(1, permanent);
  EXPECT_EQ(Table.Store.Roots.count(root), 0u);
  EXPECT_EQ(Indexes().IndexDefs().Count(), 0);
  EXPECT_EQ(Indexes().FindOpenIndex(permanent), nullptr);
}

TEST_F(IndexManagerTest, ANewTablesIndexesAreBuiltFromTheirDefinitionsAndEmptiedInPlace) {
  TVEXIndexDefs defs;
  for (const char* name : {"ByName", "ByCity", "ByAge"}) {
    TVEXIndexDef* def = defs.AddCreated();
    def->Name = name;
    def->ObjectID = Table.GetNewObjectId();
    def->SetColumnCount(1);
    def->GetIndexColumn(0)->FieldName = name + 2;
  }
  Indexes().CreateIndexDefs(defs);
  Indexes().CreateIndexesByIndexDefs(nullptr);
  for (int32_t i = 0; i < 3; ++i) EXPECT_GE(Indexes().IndexDefs().GetIndexDef(i)->RootPageNo, 1);
  Insert("Ann", "Oslo", 1);
  Insert("Bob", "Rome", 2);
  CheckIndexes();

  Indexes().EmptyAllIndexes(1);
  for (int32_t i = 0; i < 3; ++i) {
    const TVEXIndexDef& def = *Indexes().IndexDefs().GetIndexDef(i);
    EXPECT_TRUE(Table.Store.Roots.at(def.RootPageNo).empty()) << def.Name.str();
    EXPECT_EQ(Indexes().FindOpenIndex(def.ObjectID), nullptr);
  }
}

TEST_F(IndexManagerTest, RenamedFieldIsRenamedInEveryIndexWhateverTheLetterCase) {
  TVEXIndexDefs defs;
  auto add = [&](const char* name, std::initializer_list<const char*> columns) {
    TVEXIndexDef* def = defs.AddCreated();
    def->Name = name;
    def->SetColumnCount(static_cast<int32_t>(columns.size()));
    int32_t c = 0;
    for (const char* column : columns) def->GetIndexColumn(c++)->FieldName = column;
  };
  add("A", {"name", "City"});
  add("B", {"City", "NAME"});
  add("C", {"\xC9tat"});  // accented capital in the 8-bit code page
  add("D", {"Names"});
  Indexes().CreateIndexDefs(defs);
  Indexes().RenameField("Name", "FullName");
  Indexes().RenameField("\xE9tat", "State");
  auto column = [&](int32_t def, int32_t col) {
    return Indexes().IndexDefs().GetIndexDef(def)->GetIndexColumn(col)->FieldName;
  };
  EXPECT_EQ(column(0, 0), "FullName");
  EXPECT_EQ(column(0, 1), "City");
  EXPECT_EQ(column(1, 1), "FullName");
  EXPECT_EQ(column(2, 0), "State");
  EXPECT_EQ(column(3, 0), "Names");
}

}  // namespace
}  // namespace vex
