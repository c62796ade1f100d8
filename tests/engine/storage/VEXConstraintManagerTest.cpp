#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "VEXTableFakes.h"
#include "foundation/VEXExcept.h"
#include "os/Clock.h"
#include "rtl/CodePage.h"
#include "rtl/Lists.h"
#include "storage/VEXConstraintManager.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using testing::AddField;
using testing::FakeCursor;
using testing::FakeTable;
using testing::NullRecord;
using testsupport::CodeOf;
using testsupport::MessageOf;

// What a check raised, in the form of testing::MessageOf.
std::string Raised(const std::string& expected) {
  return expected.empty() ? "<no exception>" : expected;
}

// A foreign key: a type without a class of its own.
class ForeignKeyDef : public TVEXConstraintDef {
 public:
  ForeignKeyDef() : TVEXConstraintDef(ctFK) {}
};

// Table "Stock": A, B (the primary key), Name (unique), Qty (NOT NULL,
// 1..100 by two CHECKs), Score (at least 1), Note (plain).
class ConstraintManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"A", "B"}) AddField(Fields(), name, aftInteger);
    AddField(Fields(), "Name", aftString, 10);
    AddField(Fields(), "Qty", aftInteger);
    AddField(Fields(), "Score", aftInteger);
    AddField(Fields(), "Note", aftInteger);
    Table.Open();
  }

  TVEXFieldDefs& Fields() { return Table.Fields.FieldDefs(); }
  TVEXBaseConstraintManager& Constraints() { return Table.Constraints; }

  int32_t AddIndex(const char* name, std::initializer_list<const char*> fields, bool unique,
                   bool primary) {
    TVEXIndexDef def;
    def.Name = name;
    def.Unique = unique;
    def.Primary = primary;
    rtl::TStringList names, dirs, cases;
    for (const char* field : fields) {
      names.Add(field);
      dirs.Add("");
      cases.Add("");
    }
    def.AssignByNames(names, dirs, cases);
    const int32_t id = Table.Indexes.CreateIndex(nullptr, def);
    Constraints().AddConstraintFromIndex(def);
    return id;
  }

  void AddNotNull(const char* column, const char* name = "") {
    TVEXConstraintDefNotNull* c = Constraints().ConstraintDefs().AddNotNull();
    c->Name = name;
    c->SetNames(column, "Stock", "");
  }

  void AddCheck(const char* column, const char* name, std::optional<int32_t> min,
                std::optional<int32_t> max) {
    TVEXConstraintDefCheck* c = Constraints().ConstraintDefs().AddCheck();
    c->Name = name;
    c->SetNames(column, "Stock", "");
    if (min) c->MinValue.SetAsInteger(*min);
    if (max) c->MaxValue.SetAsInteger(*max);
  }

  // The usual constraints, linked and named as a new table's are.
  void Standard() {
    AddIndex("PK_AB", {"A", "B"}, false, true);
    AddIndex("U_Name", {"Name"}, true, false);
    AddNotNull("Qty");
    AddCheck("Qty", "QtyMin", 1, std::nullopt);
    AddCheck("Qty", "QtyMax", std::nullopt, 100);
    AddCheck("Score", "", 1, std::nullopt);
    Constraints().LinkObjectIds();
    Constraints().FillConstraintAutoNames();
  }

  // A record: null where the value is absent, the name as text.
  std::vector<uint8_t> Record(std::optional<int32_t> a, std::optional<int32_t> b, const char* name,
                              std::optional<int32_t> qty, std::optional<int32_t> score) {
    std::vector<uint8_t> record = NullRecord(Fields());
    const std::optional<int32_t> ints[] = {a, b, std::nullopt, qty, score};
    for (int32_t f : {0, 1, 3, 4}) {
      if (ints[f]) testing::SetField<int32_t>(Fields(), record, f, *ints[f]);
    }
    if (name != nullptr) {
      std::strcpy(reinterpret_cast<char*>(record.data() + Fields().GetDef(2)->MemoryOffset), name);
      SetBitInBuffer(false, 2, record.data());
    }
    return record;
  }

  void Store(const std::vector<uint8_t>& record) {
    FakeCursor cursor(1, Fields());
    cursor.Record = record;
    Table.Insert(cursor);
  }

  FakeTable Table;
};

TEST_F(ConstraintManagerTest, RecordsAreCheckedInListOrderWithTheirMessages) {
  Standard();
  Store(Record(1, 1, "x", 5, 1));
  struct Case {
    const char* Name;
    std::vector<uint8_t> Record;
    bool Unique;  // CheckUniqueIndexes
    std::string Expected;
  };
  const std::string kNative = " - Native error: ";
  const Case cases[] = {
      {"all rules kept, a null Score passes its CHECK", Record(2, 2, "y", 5, std::nullopt), true,
       ""},
      {"Qty null", Record(2, 2, "y", std::nullopt, 1), true,
       "Constraint '$C_NotNull$Stock$Qty' violated. Value in field 'Qty' cannot be null" + kNative +
           "30026"},
      {"Score at its lower bound", Record(2, 2, "y", 5, 1), true, ""},
      {"Score far above it", Record(2, 2, "y", 5, 1000000), true, ""},
      {"Score below it", Record(2, 2, "y", 5, 0), true,
       "Constraint '$C_Check$Stock$Score' violated. Value in field 'Score' cannot be lower than "
       "'1'" +
           kNative + "30029"},
      {"Qty below 1: the first CHECK", Record(2, 2, "y", 0, 1), true,
       "Constraint 'QtyMin' violated. Value in field 'Qty' cannot be lower than '1'" + kNative +
           "30029"},
      {"Qty above 100", Record(2, 2, "y", 101, 1), true,
       "Constraint 'QtyMax' violated. Value in field 'Qty' cannot be greater than '100'" + kNative +
           "30030"},
      {"key all null", Record(std::nullopt, std::nullopt, "y", 5, 1), true,
       "Constraint 'C_PK$A$B' violated. Value in field 'A,B' cannot be null" + kNative + "30330"},
      {"only B null", Record(1, std::nullopt, "y", 5, 1), true, ""},
      {"duplicate key", Record(1, 1, "y", 5, 1), true,
       "Primary Key constraint 'C_PK$A$B' violated. Duplicate found." + kNative + "30319"},
      {"duplicate name", Record(2, 2, "x", 5, 1), true,
       "Constraint unique 'C_Unique$Name' violated. Duplicate found." + kNative + "30320"},
      {"unique rules not asked for", Record(std::nullopt, std::nullopt, "x", 5, 1), false, ""},
      {"duplicate key not asked for", Record(1, 1, "x", 5, 1), false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const TVEXPageItemID none{-1, 0};
    EXPECT_EQ(MessageOf([&] {
                Constraints().CheckConstraints(1, c.Record.data(), nullptr, true, none, true,
                                               c.Unique);
              }),
              Raised(c.Expected));
    bool result = false;
    EXPECT_EQ(MessageOf([&] {
                result = Constraints().CheckConstraints(1, c.Record.data(), nullptr, true, none,
                                                        false, c.Unique);
              }),
              Raised(""));
    EXPECT_EQ(result, c.Expected.empty());
  }
}

TEST_F(ConstraintManagerTest, AnUpdateKeepingItsOwnKeyIsNoDuplicate) {
  Standard();
  const std::vector<uint8_t> stored = Record(1, 1, "x", 5, 1);
  Store(stored);
  Store(Record(2, 2, "y", 5, 1));
  const TVEXPageItemID id{1, 0};
  EXPECT_TRUE(Constraints().CheckConstraints(1, Record(1, 1, "x", 6, 1).data(), stored.data(),
                                             false, id, false, true));
  EXPECT_FALSE(Constraints().CheckConstraints(1, Record(2, 2, "x", 6, 1).data(), stored.data(),
                                              false, id, false, true));
}

TEST_F(ConstraintManagerTest, ConstraintsThatCannotBeCheckedRaiseEvenWhenAskedForAResult) {
  AddIndex("PK_A", {"A"}, false, true);
  struct Case {
    const char* Name;
    std::function<void()> Add;
    int32_t Code;
  };
  const Case cases[] = {
      {"NOT NULL of an unknown field",
       [&] { Constraints().ConstraintDefs().AddNotNull()->ColumnObjectID = 999; }, 30024},
      {"CHECK of an unknown field",
       [&] { Constraints().ConstraintDefs().AddCheck()->ColumnObjectID = 999; }, 30028},
      {"PRIMARY KEY column of an unknown field",
       [&] {
         Constraints().ConstraintDefs().AddPK()->Columns.push_back({"A", 999});
       },
       30329},
      {"foreign key",
       [&] { Constraints().ConstraintDefs().InternalAdd(std::make_unique<ForeignKeyDef>()); },
       30036},
  };
  const std::vector<uint8_t> record = Record(1, 1, "x", 5, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Constraints().ConstraintDefs().Clear();
    c.Add();
    EXPECT_EQ(
        CodeOf([&] {
          Constraints().CheckConstraints(1, record.data(), nullptr, true, {-1, 0}, false, true);
        }),
        c.Code);
  }
}

TEST_F(ConstraintManagerTest, LinkingFindsIndexesAndFieldsByNameInAnyCase) {
  const int32_t pk = AddIndex("PK_AB", {"A", "B"}, false, true);
  TVEXConstraintDefs& defs = Constraints().ConstraintDefs();
  ASSERT_EQ(defs.Count(), 1);
  auto* key = static_cast<TVEXConstraintDefUnique*>(defs.GetDef(0));
  EXPECT_EQ(key->Name, "C_PK$A$B");
  EXPECT_EQ(key->ConstraintType, ctPK);
  EXPECT_EQ(key->IndexObjectID, pk);
  EXPECT_EQ(key->ObjectID, pk + 1) << "a new object id of the database";
  EXPECT_EQ(key->Columns[0].ColumnObjectID, Fields().GetDef(0)->ObjectID);
  EXPECT_EQ(key->Columns[1].ColumnObjectID, Fields().GetDef(1)->ObjectID);

  TVEXConstraintDefNotNull* notNull = defs.AddNotNull();
  notNull->SetNames("qTY", "Stock", "");
  Constraints().LinkObjectId(*notNull);
  EXPECT_EQ(notNull->ColumnObjectID, Fields().GetDef(3)->ObjectID);
}

TEST_F(ConstraintManagerTest, LinkFailuresNameWhatIsMissingAndLinkNothing) {
  AddIndex("U_Name", {"Name"}, true, false);
  struct Case {
    const char* Name;
    TVEXConstraintType Type;
    const char* Index;
    const char* Column;
    std::string Expected;
  };
  const Case cases[] = {
      {"PRIMARY KEY without its index", ctPK, "Nope", "A",
       "Index 'Nope' not found - Native error: 30325"},
      {"UNIQUE without its index", ctUnique, "Nope", "A",
       "Index 'Nope' not found - Native error: 30326"},
      {"PRIMARY KEY column without its field", ctPK, "U_Name", "Gone",
       "Field 'Gone' not found - Native error: 30331"},
      {"UNIQUE column without its field", ctUnique, "u_name", "Gone",
       "Field 'Gone' not found - Native error: 30332"},
      {"NOT NULL without its field", ctNotNull, "", "Gone",
       "Field 'Gone' not found - Native error: 30027"},
      {"CHECK without its field", ctCheck, "", "Gone",
       "Field 'Gone' not found - Native error: 30027"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TVEXConstraintDefs defs;
    TVEXConstraintDef* def = defs.AddOfType(c.Type);
    if (c.Type == ctPK || c.Type == ctUnique) {
      auto* u = static_cast<TVEXConstraintDefUnique*>(def);
      u->IndexName = c.Index;
      u->Columns.push_back({"A", 0});
      u->Columns.push_back({c.Column, 0});
      EXPECT_EQ(MessageOf([&] { Constraints().LinkObjectId(*def); }), c.Expected);
      EXPECT_EQ(u->IndexObjectID, 0);
      EXPECT_EQ(u->Columns[0].ColumnObjectID, 0) << "no column is linked either";
    } else {
      if (c.Type == ctNotNull) static_cast<TVEXConstraintDefNotNull*>(def)->ColumnName = c.Column;
      if (c.Type == ctCheck) static_cast<TVEXConstraintDefCheck*>(def)->ColumnName = c.Column;
      EXPECT_EQ(MessageOf([&] { Constraints().LinkObjectId(*def); }), c.Expected);
    }
  }
  ForeignKeyDef fk;
  EXPECT_EQ(CodeOf([&] { Constraints().LinkObjectId(fk); }), 30037);
}

TEST_F(ConstraintManagerTest, UnnamedConstraintsGetUniqueGeneratedNames) {
  os::FakeClock clock(0, 7);
  os::ScopedClock useClock(clock);
  AddNotNull("Qty");
  AddNotNull("qty");
  AddCheck("Score", "", 1, std::nullopt);
  AddNotNull("Note", "Mine");
  Constraints().FillConstraintAutoNames();
  const TVEXConstraintDefs& defs = Constraints().ConstraintDefs();
  const std::string base = "$C_NotNull$Stock$Qty";
  EXPECT_EQ(defs.GetDef(0)->Name, base);
  const std::string second = defs.GetDef(1)->Name;
  // Names compare ignoring case: the second takes a number after its base.
  ASSERT_GT(second.size(), base.size());
  EXPECT_TRUE(rtl::AnsiUpperCase(second.substr(0, base.size())) == rtl::AnsiUpperCase(base))
      << second;
  const std::string digits = second.substr(base.size());
  EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << second;
  EXPECT_LT(std::stol(digits), 65535);
  EXPECT_EQ(defs.GetDef(2)->Name, "$C_Check$Stock$Score");
  EXPECT_EQ(defs.GetDef(3)->Name, "Mine");

  Constraints().ConstraintDefs().AddUnique();
  EXPECT_EQ(CodeOf([&] { Constraints().FillConstraintAutoNames(); }), 30038);
}

TEST_F(ConstraintManagerTest, GeneratedNamesOfLongTablesStayShortAndUnique) {
  const std::string table(255, 'T');
  for (int i = 0; i < 3; ++i) {
    TVEXConstraintDefNotNull* c = Constraints().ConstraintDefs().AddNotNull();
    c->SetNames("Qty", table, "");
  }
  Constraints().FillConstraintAutoNames();
  std::set<std::string> names;
  for (int32_t i = 0; i < 3; ++i) {
    const std::string name = Constraints().ConstraintDefs().GetDef(i)->Name;
    EXPECT_EQ(name.size(), 255u);
    names.insert(rtl::AnsiUpperCase(name));
  }
  EXPECT_EQ(names.size(), 3u);
}

TEST_F(ConstraintManagerTest, DroppingAUniqueIndexDropsItsConstraintAndAPlainOneNothing) {
  const int32_t unique = AddIndex("U_Name", {"Name"}, true, false);
  const int32_t plain = AddIndex("ByQty", {"Qty"}, false, false);
  const int32_t primary = AddIndex("PK_A", {"A"}, true, true);
  AddNotNull("Qty", "QtyRequired");
  TVEXConstraintDefs& defs = Constraints().ConstraintDefs();
  ASSERT_EQ(defs.Count(), 3) << "a plain index brings no constraint";
  EXPECT_EQ(defs.GetDef(0)->Name, "C_Unique$Name");
  EXPECT_EQ(defs.GetDef(0)->ConstraintType, ctUnique);
  EXPECT_EQ(defs.GetDef(1)->Name, "C_PK$A");
  EXPECT_EQ(defs.GetDef(1)->ConstraintType, ctPK) << "primary wins over unique";

  Table.DeleteIndex(plain, 1);
  EXPECT_EQ(defs.Count(), 3);
  Table.DeleteIndex(unique, 1);
  ASSERT_EQ(defs.Count(), 2);
  EXPECT_EQ(defs.GetDef(0)->Name, "C_PK$A");
  EXPECT_EQ(defs.GetDef(1)->Name, "QtyRequired");
  EXPECT_EQ(Table.Indexes.IndexDefs().GetDefByObjectId(unique), nullptr);
  Table.DeleteIndex(primary, 1);
  ASSERT_EQ(defs.Count(), 1);
  EXPECT_EQ(defs.GetDef(0)->Name, "QtyRequired");
}

TEST_F(ConstraintManagerTest, AConstraintThatCannotBeLinkedIsNotKept) {
  TVEXIndexDef def;
  def.Name = "NotInTheTable";
  def.Unique = true;
  def.SetColumnCount(1);
  def.GetIndexColumn(0)->FieldName = "Name";
  EXPECT_EQ(CodeOf([&] { Constraints().AddConstraintFromIndex(def); }), 30326);
  EXPECT_EQ(Constraints().ConstraintDefs().Count(), 0);
}

}  // namespace
}  // namespace vex
