// SELECT statements run through the query component over a small database:
// select lists, WHERE, ORDER BY, DISTINCT and TOP, derived tables, FROM items,
// INTO, the read-only flag, the table locks and the plug-in's query shapes.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "components/VEXSession.h"
#include "db/Params.h"
#include "engine/sql/statements/SelectFixture.h"
#include "foundation/VEXExcept.h"
#include "rtl/DateTime.h"
#include "sql/statements/VEXSQLCursorCommand.h"
#include "storage/VEXCursor.h"
#include "storage/disk/VEXTableLocks.h"
#include "support/FakeClock.h"
#include "support/NativeError.h"

namespace {

using namespace vex;
using testsupport::CodeOf;
using vextest::Rows;

class Select : public vextest::SelectFixture {};

struct QueryCase {
  const char* Text;
  const char* Names;
  Rows Expected;
};

void CheckCases(Select& Fixture, const std::vector<QueryCase>& Cases) {
  for (const QueryCase& c : Cases) {
    SCOPED_TRACE(c.Text);
    TVEXQuery& q = Fixture.NewQueryFor(c.Text);
    ASSERT_NO_THROW(q.Open());
    if (c.Names != nullptr) {
      EXPECT_EQ(vextest::SelectFixture::Names(q), c.Names);
    }
    EXPECT_EQ(vextest::SelectFixture::Read(q), c.Expected);
  }
}

TEST_F(Select, SelectListsNameTheirColumns) {
  CheckCases(*this,
             {
                 {"SELECT * FROM Room", "ID|NAME|K", {"3|c|1", "1|a|2", "2|b|1", "4|B|-"}},
                 {"SELECT Room.* FROM Room WHERE ID = 4", "ID|NAME|K", {"4|B|-"}},
                 {"SELECT r.NAME, r.ID FROM Room r WHERE r.ID = 3", "NAME|ID", {"c|3"}},
                 // A repeated column gets the first free name.
                 {"SELECT ID, ID FROM Room WHERE ID = 1", "ID|ID_1", {"1|1"}},
                 {"SELECT ID, ID_1, ID FROM (SELECT ID, ID FROM Room) s WHERE ID = 1",
                  "ID|ID_1|ID_2",
                  {"1|1|1"}},
                 // Aliases with and without AS; a quoted alias counts in the select list.
                 {"SELECT ID AS X, NAME 'N', [K] K2 FROM Room WHERE ID = 2", "X|N|K2", {"2|b|1"}},
                 {"SELECT ID + 1 AS NXT, NAME FROM Room WHERE ID = 1", "NXT|NAME", {"2|a"}},
                 // Keywords in any case, over several lines, with a trailing ";".
                 {"select id\nfrom room\nwhere k = 1;", "id", {"3", "2"}},
             });
}

TEST_F(Select, WhereOrderDistinctAndTop) {
  CheckCases(
      *this,
      {
          {"SELECT NAME, ID FROM Room WHERE K = 1", nullptr, {"c|3", "b|2"}},
          {"SELECT ID FROM Room WHERE K >= 1 AND (NAME = 'a' OR ID > 2)", nullptr, {"3", "1"}},
          {"SELECT ID FROM Room WHERE ID BETWEEN 2 AND 3", nullptr, {"3", "2"}},
          {"SELECT ID FROM Room WHERE K IS NULL", nullptr, {"4"}},
          // ORDER BY a name, an alias, a position, a column not selected.
          {"SELECT ID FROM Room ORDER BY ID", nullptr, {"1", "2", "3", "4"}},
          {"SELECT ID AS X FROM Room ORDER BY X DESC", nullptr, {"4", "3", "2", "1"}},
          {"SELECT ID, NAME FROM Room ORDER BY 2", nullptr, {"1|a", "2|b", "4|B", "3|c"}},
          {"SELECT NAME FROM Room ORDER BY ID", "NAME", {"a", "b", "c", "B"}},
          {"SELECT r.NAME FROM Room r ORDER BY r.ID DESC", nullptr, {"B", "c", "b", "a"}},
          // DESC per key; null keys lowest.
          {"SELECT K, ID FROM Room ORDER BY K DESC, ID", nullptr, {"2|1", "1|2", "1|3", "-|4"}},
          {"SELECT K, ID FROM Room ORDER BY K, ID DESC", nullptr, {"-|4", "1|3", "1|2", "2|1"}},
          // Case-sensitive keys: 'b' and 'B' stay two.
          {"SELECT DISTINCT NAME FROM Room WHERE ID <> 1 ORDER BY NAME", nullptr, {"b", "B", "c"}},
          {"SELECT DISTINCT K FROM Room", nullptr, {"1", "2", "-"}},
          {"SELECT DISTINCT K FROM Room ORDER BY K", nullptr, {"-", "1", "2"}},
          {"SELECT TOP 2 ID FROM Room", nullptr, {"3", "1"}},
          {"SELECT TOP 2, 2 ID FROM Room", nullptr, {"1", "2"}},
          {"SELECT TOP 2 ID FROM Room ORDER BY ID DESC", nullptr, {"4", "3"}},
          {"SELECT TOP 0 ID FROM Room", nullptr, {}},
          {"SELECT DISTINCT TOP 2 K FROM Room ORDER BY K DESC", nullptr, {"2", "1"}},
      });
}

TEST_F(Select, DerivedTablesAreReadUnderTheirAlias) {
  CheckCases(
      *this,
      {
          {"SELECT s.ID FROM (SELECT ID FROM Room WHERE K = 1) AS s ORDER BY s.ID",
           "ID",
           {"2", "3"}},
          {"SELECT s.X FROM (SELECT ID + 10 AS X FROM Room) s WHERE s.X > 12", "X", {"13", "14"}},
          {"SELECT * FROM ((SELECT NAME FROM Room WHERE ID = 1)) t", "NAME", {"a"}},
      });
}

TEST_F(Select, OrderByAndPlanErrors) {
  const std::pair<const char*, int32_t> cases[] = {
      {"SELECT ID, NAME FROM Room ORDER BY 0", 20243},
      {"SELECT ID, NAME FROM Room ORDER BY 3", 20243},
      {"SELECT ID FROM Room ORDER BY Z", 30195},
      {"SELECT ID FROM Room ORDER BY x.ID", 30195},
      {"SELECT ID FROM Room ORDER ID", 30188},
      {"SELECT ID FROM Room ORDER BY ,", 30187},
      {"SELECT ID FROM Room ORDER BY r.,", 30186},
      {"SELECT ID FROM Room ORDER BY ID, .", 30189},
      {"SELECT ID FROM Room ORDER BY ID,", 30161},
      // A condition on a column of no FROM item.
      {"SELECT ID FROM Room WHERE Z = 1", 30144},
      {"SELECT ID FROM Room r WHERE x.ID = 1", 30144},
      // A HAVING that no grouping takes is refused, never dropped.
      {"SELECT ID FROM Room HAVING ID > 1", 20244},
      {"SELECT ID FROM Room x y", 20260},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::string message;
    EXPECT_EQ(CodeOf([&] { NewQuery(c.first).Open(); }, &message), c.second) << message;
    if (c.second == 20243 && std::string(c.first).back() == '3') {
      EXPECT_NE(message.find("Invalid field number in ORDER BY clause: 3"), std::string::npos);
    }
  }
}

TEST_F(Select, FromItemsNameDatabasesMemoryTablesAndParameters) {
  // A table of the in-memory database.
  TVEXTable memory(nullptr);
  memory.SetInMemory(true);
  memory.SetTableName("Note");
  memory.AdvFieldDefs().Add("TXT", aftString, 10, false);
  memory.CreateTable();
  memory.Open();
  memory.Append();
  memory.FieldByName("TXT")->SetAsString("in memory");
  memory.Post();

  CheckCases(*this,
             {
                 {"SELECT TXT FROM MEMORY Note", "TXT", {"in memory"}},
                 {"SELECT n.TXT FROM MEMORY Note AS n", "TXT", {"in memory"}},
                 // A database given by its file: a database component of its own.
                 {("SELECT ID FROM \"" + File + "\".Room WHERE ID = 2").c_str(), "ID", {"2"}},
             });

  TVEXQuery& byParam = NewQuery("SELECT ID FROM :tn WHERE ID = 1");
  byParam.ParamByName("tn")->SetAsString("Room");
  byParam.Open();
  EXPECT_EQ(Read(byParam), Rows{"1"});
  // A parameter whose text is a quoted database, a dot and the table.
  TVEXQuery& quoted = NewQuery("SELECT ID FROM :tn r WHERE r.ID = 1");
  quoted.ParamByName("tn")->SetAsString("\"" + File + "\".Room");
  quoted.Open();
  EXPECT_EQ(Read(quoted), Rows{"1"});
  memory.Close();
  memory.DeleteTable();
}

TEST_F(Select, APasswordInFromOpensAnEncryptedDatabase) {
  const std::string secret = Dir / "secret.vex";
  {
    TVEXDatabase database(nullptr);
    database.SetDatabaseName("Secret");
    database.SetDatabaseFileName(secret);
    database.SetPassword("pw");
    database.SetSilentMode(true);
    database.CreateDatabase();
    database.Open();
    TVEXTable vault(nullptr);
    vault.SetDatabaseName("Secret");
    vault.SetTableName("Vault");
    vault.AdvFieldDefs().Add("CODE", aftInteger, 0, false);
    vault.CreateTable();
    vault.Open();
    vault.Append();
    vault.FieldByName("CODE")->SetAsInteger(42);
    vault.Post();
  }
  TVEXQuery& q = NewQuery("SELECT CODE FROM \"" + secret + "\".Vault v PASSWORD :pw");
  q.ParamByName("pw")->SetAsString("pw");
  q.Open();
  EXPECT_EQ(Read(q), Rows{"42"});
  q.Close();
  TVEXQuery& wrong = NewQuery("SELECT CODE FROM \"" + secret + "\".Vault PASSWORD 'nope'");
  EXPECT_ANY_THROW(wrong.Open());
}

TEST_F(Select, OnlyALiveRequestOverOnePlainTableOrIntoIsEditable) {
  const std::pair<const char*, bool> live[] = {
      {"SELECT * FROM Room", false},
      {"SELECT ID, NAME FROM Room WHERE K = 1 ORDER BY NAME", false},
      {"SELECT ID + 1 AS X FROM Room", true},
      {"SELECT DISTINCT K FROM Room", false},
      {"SELECT TOP 1 ID FROM Room", true},
      {"SELECT s.ID FROM (SELECT ID FROM Room) s", true},
  };
  for (const auto& c : live) {
    SCOPED_TRACE(c.first);
    TVEXQuery& asked = NewQuery(c.first, true);
    asked.Open();
    EXPECT_EQ(asked.ReadOnly(), c.second);
    TVEXQuery& notAsked = NewQuery(c.first, false);
    notAsked.Open();
    EXPECT_TRUE(notAsked.ReadOnly());
  }
}

// A live result is its base table: what is edited, added and deleted through
// the query is in the table, read back after the database was closed.
TEST_F(Select, ALiveResultStoresItsChangesInTheTable) {
  TVEXQuery& live = NewQuery("SELECT ID, NAME FROM Room WHERE K = 1 ORDER BY NAME", true);
  live.Open();
  ASSERT_FALSE(live.ReadOnly());
  // Edited right after opening: the result stands on its first record.
  EXPECT_EQ(live.FieldByName("NAME")->AsString(), "b");
  live.Edit();
  live.FieldByName("NAME")->SetAsString("bb");
  live.Post();
  live.Next();
  EXPECT_EQ(live.FieldByName("ID")->AsInteger(), 3);
  live.Delete();
  live.Append();
  live.FieldByName("ID")->SetAsInteger(5);
  live.FieldByName("NAME")->SetAsString("e");
  live.Post();
  Queries.clear();
  Database->Close();
  Database->Open();
  TVEXTable room(nullptr);
  room.SetDatabaseName("Hotel");
  room.SetTableName("Room");
  room.Open();
  // The new row may take the deleted one's place.
  Rows rows = Read(room);
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (Rows{"1|a|2", "2|bb|1", "4|B|-", "5|e|-"}));
}

TEST_F(Select, IntoWritesTheResultIntoATable) {
  NewQuery("SELECT ID, NAME INTO Copy FROM Room WHERE K = 1").Open();
  EXPECT_EQ(Run("SELECT * FROM Copy ORDER BY ID"), (Rows{"2|b", "3|c"}));
  EXPECT_TRUE(Database->TableExists("Copy"));

  NewQuery("SELECT ID * 2 AS D INTO MEMORY Doubled FROM Room WHERE ID < 3").Open();
  EXPECT_EQ(Run("SELECT D FROM MEMORY Doubled ORDER BY D"), (Rows{"2", "4"}));
  EXPECT_FALSE(Database->TableExists("Doubled"));

  NewQuery("SELECT * INTO MEMORY IMMEDIATE Fast FROM Room WHERE ID = 4").Open();
  EXPECT_EQ(Run("SELECT NAME FROM MEMORY Fast"), Rows{"B"});

  // A live request with INTO is editable.
  TVEXQuery& live = NewQuery("SELECT ID INTO Again FROM Room WHERE ID = 1", true);
  live.Open();
  EXPECT_FALSE(live.ReadOnly());
  Queries.clear();
  for (const char* name : {"Doubled", "Fast"}) {
    TVEXTable t(nullptr);
    t.SetInMemory(true);
    t.SetTableName(name);
    t.DeleteTable();
  }
}

TEST_F(Select, SeveralCommandsGiveTheLastSelectsCursor) {
  CheckCases(
      *this,
      {
          {"SELECT ID FROM Room WHERE ID = 1; SELECT NAME FROM Room WHERE ID = 2", "NAME", {"b"}},
          {"(SELECT ID FROM Room WHERE ID = 3)", "ID", {"3"}},
      });
}

// The plug-in's query shapes: named parameters, dates against date and
// date-time columns, IS NOT TRUE, and the physical order without ORDER BY.
TEST_F(Select, ThePlugInsQueryShapes) {
  MakeStay();
  TVEXQuery& byDate =
      NewQuery("SELECT ID FROM Stay\n WHERE ARRIVE >= :from AND ARRIVE <= :till ORDER BY ID DESC");
  byDate.ParamByName("from")->SetAsDate(rtl::EncodeDate(2026, 12, 11));
  byDate.ParamByName("till")->SetAsDate(rtl::EncodeDate(2026, 12, 12));
  byDate.Open();
  EXPECT_EQ(Read(byDate), (Rows{"3", "2"}));

  const std::pair<const char*, Rows> dateCases[] = {
      {"SELECT ID FROM Stay WHERE ARRIVE = :d", {"2"}},
      {"SELECT ID FROM Stay WHERE CHECKIN > :d", {"3"}},
      {"SELECT ID FROM Stay WHERE CHECKIN >= :d", {"2", "3"}},
      {"SELECT ID FROM Stay WHERE CHECKIN BETWEEN :d AND :d", {"2"}},
      {"SELECT ID FROM Stay WHERE ARRIVE BETWEEN :d AND :d", {"2"}},
  };
  for (const auto& [textOf, expected] : dateCases) {
    const char* text = textOf;
    SCOPED_TRACE(text);
    TVEXQuery& q = NewQuery(text);
    q.ParamByName("d")->SetAsDate(rtl::EncodeDate(2026, 12, 11));
    q.Open();
    EXPECT_EQ(Read(q), expected);
  }
  CheckCases(*this, {
                        // IS NOT TRUE is NOT: false for the unknown one.
                        {"SELECT ID FROM Stay WHERE PAID IS NOT TRUE", nullptr, {"2"}},
                        {"SELECT ID FROM Stay WHERE PAID IS NULL", nullptr, {"3"}},
                        {"SELECT * FROM Room r WHERE r.K <> 2", nullptr, {"3|c|1", "2|b|1"}},
                    });
}

// A second connection (another session name) on the same file.
class Locks : public vextest::SelectFixture {
 protected:
  void SetUp() override {
    SelectFixture::SetUp();
    Other.SetSessionName("Other");
    auto* database = new TVEXDatabase(&Other);
    database->SetDatabaseName("Hotel");
    database->SetDatabaseFileName(File);
    database->SetMultiUser(true);
    database->SetSilentMode(true);
    Holder = std::make_unique<TVEXTable>(nullptr);
    Holder->SetSessionName("Other");
    Holder->SetDatabaseName("Hotel");
    Holder->SetTableName("Room");
    Holder->Open();
  }
  void TearDown() override {
    Holder.reset();
    SelectFixture::TearDown();
  }
  bool HolderTakes(TVEXLockType Type) { return Holder->Handle()->LockTable(Type, 1, 0, false); }
  void HolderGives(TVEXLockType Type) { Holder->Handle()->UnlockTable(Type, false); }

  TVEXSession Other{nullptr};
  std::unique_ptr<TVEXTable> Holder;
};

TEST_F(Locks, AWritersLockStopsTheSelectAfterBoundedWaitsWithNoLockLeft) {
  ASSERT_TRUE(HolderTakes(ltRW));
  testsupport::FakeClockScope clock;
  EXPECT_NE(CodeOf([&] { NewQuery("SELECT * FROM Room").Open(); }), 0);
  EXPECT_GT(clock.Clock.SleepCount(), 0u);
  HolderGives(ltRW);
  // Nothing of the query's is left: the other connection locks exclusively,
  // and the query runs once the table is free.
  ASSERT_TRUE(HolderTakes(ltX));
  HolderGives(ltX);
  EXPECT_EQ(Run("SELECT ID FROM Room WHERE ID = 1"), Rows{"1"});
}

// A table another connection holds exclusively refuses the SELECT within the
// bounded waits, in virtual time; the holder closes its table without
// waiting for its own lock, and the table serves again once the lock goes.
TEST_F(Locks, AnExclusiveHolderRefusesTheSelectAndClosesWithoutWaitingForItself) {
  ASSERT_TRUE(HolderTakes(ltX));
  testsupport::FakeClockScope clock;
  EXPECT_NE(CodeOf([&] { NewQuery("SELECT * FROM Room").Open(); }), 0);
  EXPECT_GT(clock.Clock.SleepCount(), 0u);
  const uint64_t sleeps = clock.Clock.SleepCount();
  Holder->Close();
  EXPECT_EQ(clock.Clock.SleepCount(), sleeps);
  Holder->Open();
  HolderGives(ltX);
  EXPECT_EQ(Run("SELECT ID FROM Room WHERE ID = 1"), Rows{"1"});
}

TEST_F(Locks, TheSharedLocksGoAfterExecutionAlsoWhenItFails) {
  EXPECT_EQ(Run("SELECT K, ID FROM Room WHERE ID = 1 ORDER BY K"), Rows{"2|1"});
  EXPECT_TRUE(HolderTakes(ltX));
  HolderGives(ltX);
  // A failure while the tree executes (a column the select list cannot have
  // under grouping) leaves no lock either.
  EXPECT_NE(CodeOf([&] { NewQuery("SELECT NAME FROM Room GROUP BY K").Open(); }), 0);
  EXPECT_TRUE(HolderTakes(ltX));
  HolderGives(ltX);
}

}  // namespace
