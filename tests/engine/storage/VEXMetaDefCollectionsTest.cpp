#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "VEXMetaDefsTestSupport.h"
#include "rtl/Exception.h"
#include "rtl/Lists.h"
#include "storage/VEXMetaDefCollections.h"

namespace vex {
namespace {

using testing::Bytes;
using testing::CodeOf;
using testing::SavedBytes;
using testing::ShortStream;
using testing::StreamOver;

TVEXFieldDef* AddField(TVEXFieldDefs& defs, const char* name, TVEXBaseFieldType type,
                       int32_t size = 0) {
  TVEXFieldDef* def = defs.AddCreated();
  def->Name = name;
  def->SetFieldDefDataType(type, size);
  return def;
}

struct Column {
  const char* name;
  bool descending;
  bool caseInsensitive;
};

TVEXIndexDef* AddIndex(TVEXIndexDefs& defs, int32_t objectId, std::vector<Column> columns) {
  TVEXIndexDef* def = defs.AddCreated();
  def->Name = "IX" + std::to_string(objectId);
  def->ObjectID = objectId;
  def->SetColumnCount(static_cast<int32_t>(columns.size()));
  for (int32_t i = 0; i < def->ColumnCount(); ++i) {
    *def->GetIndexColumn(i) = {columns[i].name, columns[i].descending, columns[i].caseInsensitive,
                               20};
  }
  return def;
}

rtl::TStringList List(std::vector<std::string> items) {
  rtl::TStringList list;
  for (auto& item : items) list.Add(item);
  return list;
}

// --- Record layout -----------------------------------------------------------

TEST(VEXFieldDefsTest, RecordLayoutOfAMixedRecord) {
  TVEXFieldDefs defs;
  AddField(defs, "Id", bftSignedInt32);
  AddField(defs, "Name", bftVarchar, 20);
  AddField(defs, "Photo", bftBlob);
  AddField(defs, "Qty", bftSignedInt16);
  AddField(defs, "Paid", bftLogical);
  AddField(defs, "Price", bftDouble);
  AddField(defs, "Code", bftChar, 3);
  AddField(defs, "Flag", bftSignedInt8);
  AddField(defs, "Note", bftWideVarchar, 2);
  defs.RecalcFieldOffsets();

  // Nine fields take a two-byte null bitmap; the BLOB takes 10 bytes in memory
  // and 6 on disk, so everything after it sits 4 bytes earlier on disk.
  const int32_t memory[] = {2, 6, 27, 37, 39, 41, 49, 53, 54};
  const int32_t disk[] = {2, 6, 27, 33, 35, 37, 45, 49, 50};
  for (int32_t i = 0; i < defs.Count(); ++i) {
    EXPECT_EQ(defs.GetDef(i)->MemoryOffset, memory[i]) << i;
    EXPECT_EQ(defs.GetDef(i)->DiskOffset, disk[i]) << i;
  }
  EXPECT_EQ(defs.GetMemoryRecordBufferSize(), 60);
  EXPECT_EQ(defs.GetDiskRecordBufferSize(), 56);
}

TEST(VEXFieldDefsTest, NullBitmapTakesOneByteForEveryEightFields) {
  const std::pair<int, int32_t> cases[] = {{0, 0}, {1, 1}, {8, 1}, {9, 2}, {16, 2}, {17, 3}};
  for (const auto& [fields, bitmap] : cases) {
    TVEXFieldDefs defs;
    for (int i = 0; i < fields; ++i)
      AddField(defs, ("F" + std::to_string(i)).c_str(), bftSignedInt8);
    defs.RecalcFieldOffsets();
    EXPECT_EQ(defs.GetMemoryRecordBufferSize(), bitmap + fields) << fields;
    EXPECT_EQ(defs.GetDiskRecordBufferSize(), bitmap + fields) << fields;
    if (fields > 0) {
      EXPECT_EQ(defs.GetDef(0)->MemoryOffset, bitmap) << fields;
    }
  }
}

// --- Lookup and list operations ----------------------------------------------

TEST(VEXMetaObjectDefsTest, LookupByNameIgnoresCaseByTheLocaleAndByObjectId) {
  TVEXFieldDefs defs;
  AddField(defs, "Id", bftSignedInt32)->ObjectID = 5;
  AddField(defs, "Caf\xE9", bftSignedInt32)->ObjectID = 6;
  EXPECT_EQ(defs.GetDefNumberByName("ID"), 0);
  // An accented letter counts as the same letter in either case.
  EXPECT_EQ(defs.GetDefNumberByName("CAF\xC9"), 1);
  EXPECT_EQ(defs.GetFieldDefByName("caf\xC9"), defs.GetDef(1));
  EXPECT_EQ(defs.GetDefNumberByName("Cafe"), -1);
  EXPECT_EQ(defs.GetDefByName("Cafe"), nullptr);
  EXPECT_EQ(defs.GetDefNumberByObjectId(6), 1);
  EXPECT_EQ(defs.GetDefByObjectId(7), nullptr);
}

TEST(VEXMetaObjectDefsTest, InsertMoveDeleteAndSetDef) {
  TVEXFieldDefs defs;
  AddField(defs, "A", bftSignedInt8);
  AddField(defs, "B", bftSignedInt8);
  auto c = std::make_unique<TVEXFieldDef>();
  c->Name = "C";
  defs.Insert(0, std::move(c));
  defs.Move(0, 2);  // C A B becomes A B C
  auto names = [&] {
    std::string all;
    for (int32_t i = 0; i < defs.Count(); ++i) all += defs.GetDef(i)->Name.str();
    return all;
  };
  EXPECT_EQ(names(), "ABC");
  defs.Move(2, 0);
  EXPECT_EQ(names(), "CAB");
  defs.Delete(1);
  EXPECT_EQ(names(), "CB");

  auto d = std::make_unique<TVEXFieldDef>();
  d->Name = "D";
  defs.SetDef(0, std::move(d));
  EXPECT_EQ(names(), "DB");
  // Setting a definition where it already is keeps it alive.
  defs.SetDef(1, std::unique_ptr<TVEXFieldDef>(defs.GetDef(1)));
  EXPECT_EQ(names(), "DB");

  EXPECT_THROW(defs.GetDef(2), rtl::EListError);
  EXPECT_THROW(defs.Delete(-1), rtl::EListError);
  // A collection holds definitions of its own class only.
  EXPECT_THROW(defs.InternalAdd(std::make_unique<TVEXIndexDef>()), rtl::EInvalidOperation);
  EXPECT_EQ(defs.Count(), 2);
}

TEST(VEXMetaObjectDefsTest, CollectionsWithoutAnElementClassCannotCreateOne) {
  TVEXMetaObjectDefs root;
  TVEXConstraintDefs constraints;
  try {
    constraints.InternalAddCreated();
    FAIL() << "no exception";
  } catch (const EVEXException& e) {
    EXPECT_EQ(e.NativeError, 30339);
    EXPECT_NE(e.Message().find(
                  "The method 'InternalAddCreated' not overrided in class 'TVEXConstraintDefs'"),
              std::string::npos);
  }
  EXPECT_EQ(CodeOf([&] { root.InternalAddCreated(); }), 30339);
}

// --- Assign ------------------------------------------------------------------

TEST(VEXMetaObjectDefsTest, AssignCopiesAndStopsAtADuplicateName) {
  TVEXFieldDefs source;
  AddField(source, "A", bftSignedInt32)->DefaultValue.SetAsInteger(1);
  AddField(source, "B", bftVarchar, 4);
  AddField(source, "a", bftDouble);

  TVEXFieldDefs copy;
  AddField(copy, "Old", bftSignedInt8);
  try {
    copy.Assign(source);
    FAIL() << "no exception";
  } catch (const EVEXException& e) {
    EXPECT_EQ(e.NativeError, 10424);
    EXPECT_NE(e.Message().find("Duplicate field name a"), std::string::npos);
  }
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.GetDef(0)->DefaultValue.AsInteger(), 1);
  EXPECT_EQ(copy.GetDef(1)->FieldSize, 4);
  EXPECT_NE(copy.GetDef(0), source.GetDef(0));
  // Assigning a collection to itself keeps what it holds.
  copy.Assign(copy);
  EXPECT_EQ(copy.Count(), 2);

  TVEXIndexDefs indexes;
  AddIndex(indexes, 1, {{"X", false, false}})->Name = "Same";
  AddIndex(indexes, 2, {{"Y", false, false}})->Name = "SAME";
  TVEXIndexDefs indexCopy;
  EXPECT_EQ(CodeOf([&] { indexCopy.Assign(indexes); }), 10424);
}

TEST(VEXConstraintDefsTest, AssignRecreatesEachClassByItsType) {
  TVEXConstraintDefs source;
  source.AddNotNull()->SetNames("A", "T", "");
  source.AddCheck()->MinValue.SetAsInteger(3);
  source.AddPK()->Columns = {{"A", 1}};
  source.AddUnique()->Name = "U";
  // No duplicate-name check among constraints.
  source.AddUnique()->Name = "U";

  TVEXConstraintDefs copy;
  copy.Assign(source);
  ASSERT_EQ(copy.Count(), 5);
  EXPECT_NE(dynamic_cast<TVEXConstraintDefNotNull*>(copy.GetDef(0)), nullptr);
  EXPECT_EQ(static_cast<TVEXConstraintDefCheck*>(copy.GetDef(1))->MinValue.AsInteger(), 3);
  EXPECT_NE(dynamic_cast<TVEXConstraintDefPrimary*>(copy.GetDef(2)), nullptr);
  EXPECT_EQ(copy.GetDef(3)->ConstraintType, ctUnique);

  source.GetDef(0)->ConstraintType = ctFK;
  EXPECT_EQ(CodeOf([&] { copy.Assign(source); }), 30035);
}

// --- Stream form ---------------------------------------------------------------

TEST(VEXMetaDefCollectionsStreamTest, FieldsRoundTripWithTheirCount) {
  TVEXFieldDefs defs;
  AddField(defs, "Id", bftSignedInt32)->ObjectID = 1;
  AddField(defs, "Memo", bftClob)->BLOBBlockSize = 2048;
  const std::string bytes = SavedBytes(defs);
  EXPECT_EQ(bytes.substr(0, 4), Bytes().i32(2).s);

  TVEXFieldDefs loaded;
  AddField(loaded, "Stale", bftSignedInt8);
  loaded.LoadFromStream(*StreamOver(bytes));
  EXPECT_EQ(loaded.LoadedItemCount(), 2);
  ASSERT_EQ(loaded.Count(), 2);
  EXPECT_EQ(loaded.GetDef(1)->Name, "Memo");
  EXPECT_EQ(loaded.GetDef(1)->BLOBBlockSize, 2048);
  EXPECT_EQ(SavedBytes(loaded), bytes);
}

TEST(VEXMetaDefCollectionsStreamTest, TemporaryIndexesAreNeverWritten) {
  TVEXIndexDefs defs;
  AddIndex(defs, 1, {{"A", false, false}});
  TVEXIndexDef* temporary = AddIndex(defs, 2, {{"B", false, false}});
  temporary->Temporary = true;
  temporary->SessionID = 3;
  AddIndex(defs, 3, {{"C", true, false}});

  const std::string bytes = SavedBytes(defs);
  TVEXIndexDef first;
  first.Assign(*defs.GetIndexDef(0));
  TVEXIndexDef third;
  third.Assign(*defs.GetIndexDef(2));
  EXPECT_EQ(bytes, Bytes().i32(2).s + SavedBytes(first) + SavedBytes(third));

  TVEXIndexDefs loaded;
  loaded.LoadFromStream(*StreamOver(bytes));
  ASSERT_EQ(loaded.Count(), 2);
  EXPECT_EQ(loaded.GetIndexDef(0)->ObjectID, 1);
  EXPECT_EQ(loaded.GetIndexDef(1)->ObjectID, 3);
  EXPECT_EQ(loaded.GetIndexDefByName("ix3"), loaded.GetIndexDef(1));
}

TEST(VEXMetaDefCollectionsStreamTest, ConstraintsRoundTripBehindTheirTypeBytes) {
  TVEXConstraintDefs defs;
  defs.AddNotNull()->SetNames("A", "T", "");
  defs.AddPK()->Columns = {{"A", 1}, {"B", 2}};
  defs.AddUnique()->IndexName = "UQ";
  defs.AddCheck()->MaxValue.SetAsInteger(10);

  const std::string bytes = SavedBytes(defs);
  EXPECT_EQ(bytes.substr(0, 5), Bytes().i32(4).u8(ctNotNull).s);
  const size_t pkAt = 4 + 1 + SavedBytes(*defs.GetDef(0)).size();
  EXPECT_EQ(static_cast<uint8_t>(bytes[pkAt]), ctPK);

  TVEXConstraintDefs loaded;
  loaded.LoadFromStream(*StreamOver(bytes));
  ASSERT_EQ(loaded.Count(), 4);
  EXPECT_NE(dynamic_cast<TVEXConstraintDefNotNull*>(loaded.GetDef(0)), nullptr);
  auto* pk = dynamic_cast<TVEXConstraintDefPrimary*>(loaded.GetDef(1));
  ASSERT_NE(pk, nullptr);
  EXPECT_EQ(pk->Columns.size(), 2u);
  EXPECT_EQ(loaded.GetDef(2)->ConstraintType, ctUnique);
  EXPECT_EQ(dynamic_cast<TVEXConstraintDefPrimary*>(loaded.GetDef(2)), nullptr);
  EXPECT_EQ(static_cast<TVEXConstraintDefCheck*>(loaded.GetDef(3))->MaxValue.AsInteger(), 10);
  EXPECT_EQ(SavedBytes(loaded), bytes);
}

TEST(VEXMetaDefCollectionsStreamTest, UnknownConstraintTypesAreRefused) {
  for (uint8_t type : {uint8_t{1}, uint8_t{5}, uint8_t{255}}) {
    TVEXConstraintDefs defs;
    try {
      defs.LoadFromStream(*StreamOver(Bytes().i32(1).u8(type).s + std::string(40, '\0')));
      FAIL() << "no exception for " << int(type);
    } catch (const EVEXException& e) {
      EXPECT_EQ(e.NativeError, 30316);
      EXPECT_NE(e.Message().find("Unknown Constraint Type: '" + std::to_string(type) + "'"),
                std::string::npos);
    }
  }
}

TEST(VEXMetaDefCollectionsStreamTest, CountAndTypeByteCodes) {
  TVEXConstraintDefs constraints;
  constraints.AddNotNull();
  TVEXFieldDefs fields;
  AddField(fields, "A", bftSignedInt8);
  TVEXIndexDefs indexes;
  AddIndex(indexes, 1, {});
  struct Case {
    const TVEXMetaObjectDefs* defs;
    int64_t at;
    int32_t writeCode;
    int32_t readCode;
  };
  const Case cases[] = {
      {&fields, 0, 10158, 10159},
      {&indexes, 0, 10343, 10159},
      {&constraints, 0, 10158, 10159},
      {&constraints, 4, 10219, 10220},
  };
  for (const Case& c : cases) {
    ShortStream writer({}, c.at);
    EXPECT_EQ(CodeOf([&] { c.defs->SaveToStream(writer); }), c.writeCode);
    ShortStream reader(SavedBytes(*c.defs), std::numeric_limits<int64_t>::max(), c.at);
    TVEXConstraintDefs intoConstraints;
    TVEXFieldDefs intoFields;
    TVEXIndexDefs intoIndexes;
    TVEXMetaObjectDefs* into = c.defs == &fields    ? static_cast<TVEXMetaObjectDefs*>(&intoFields)
                               : c.defs == &indexes ? static_cast<TVEXMetaObjectDefs*>(&intoIndexes)
                                                    : &intoConstraints;
    EXPECT_EQ(CodeOf([&] { into->LoadFromStream(reader); }), c.readCode);
  }
}

TEST(VEXMetaDefCollectionsStreamTest, CountsTheStreamCannotHoldAreRefused) {
  // The fewest bytes a stored item takes: a field definition 46, an index 16,
  // a constraint 24. One byte short of one item is damage, not a short read.
  struct Case {
    int kind;  // 0 fields, 1 indexes, 2 constraints
    int32_t count;
    size_t bytesAfter;
  };
  const Case cases[] = {{0, 0x7FFFFFFF, 100}, {0, -1, 100}, {0, 1, 45},
                        {1, 0x7FFFFFFF, 100}, {1, 1, 15},   {2, 0x7FFFFFFF, 100},
                        {2, -5, 0},           {2, 1, 23}};
  for (const Case& c : cases) {
    auto stream = StreamOver(Bytes().i32(c.count).s + std::string(c.bytesAfter, '\0'));
    TVEXFieldDefs fields;
    TVEXIndexDefs indexes;
    TVEXConstraintDefs constraints;
    TVEXMetaObjectDefs& defs = c.kind == 0   ? static_cast<TVEXMetaObjectDefs&>(fields)
                               : c.kind == 1 ? static_cast<TVEXMetaObjectDefs&>(indexes)
                                             : constraints;
    EXPECT_EQ(CodeOf([&] { defs.LoadFromStream(*stream); }), 10159)
        << c.kind << " " << c.count << " " << c.bytesAfter;
  }

  // The smallest sound items load from exactly their bytes.
  TVEXFieldDefs fields;
  AddField(fields, "", bftSignedInt8);
  TVEXIndexDefs indexes;
  AddIndex(indexes, 1, {})->Name = "";
  TVEXConstraintDefs constraints;
  constraints.AddNotNull();
  EXPECT_EQ(SavedBytes(fields).size(), 4u + 46);
  EXPECT_EQ(SavedBytes(indexes).size(), 4u + 16);
  EXPECT_EQ(SavedBytes(constraints).size(), 4u + 24);
  fields.LoadFromStream(*StreamOver(SavedBytes(fields)));
  indexes.LoadFromStream(*StreamOver(SavedBytes(indexes)));
  constraints.LoadFromStream(*StreamOver(SavedBytes(constraints)));
  EXPECT_EQ(fields.Count() + indexes.Count() + constraints.Count(), 3);
}

// --- FindIndex -----------------------------------------------------------------

class FindIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddField(fields, "Name", bftVarchar, 20);
    AddField(fields, "City", bftWideVarchar, 20);
    AddField(fields, "Age", bftSignedInt32);
    AddField(fields, "Qty", bftSignedInt32);
    AddIndex(indexes, 10, {{"Name", false, false}, {"City", false, true}});
    AddIndex(indexes, 11, {{"Name", true, true}});
    AddIndex(indexes, 20, {{"Age", false, true}});
    AddIndex(indexes, 40, {{"Qty", false, false}});
    TVEXIndexDef* temporary = AddIndex(indexes, 30, {{"City", true, false}});
    temporary->Temporary = true;
    temporary->SessionID = 3;
    AddIndex(indexes, 50, {{"Ghost", false, true}});
    AddIndex(indexes, 60, {{"Caf\xE9", false, false}});
  }

  int32_t Find(std::vector<std::string> names, std::vector<std::string> directions,
               std::vector<std::string> cases, int32_t session = 0) {
    const rtl::TStringList n = List(names), d = List(directions), c = List(cases);
    const int32_t found = indexes.FindIndex(&n, &d, &c, session, fields);
    EXPECT_EQ(indexes.IsIndexExists(&n, &d, &c, session, fields), found != -1);
    return found;
  }

  TVEXFieldDefs fields;
  TVEXIndexDefs indexes;
};

TEST_F(FindIndexTest, MatchesNamesDirectionsAndCase) {
  struct Case {
    std::vector<std::string> names, directions, cases;
    int32_t session;
    int32_t expected;
  };
  const Case cases[] = {
      // A longer index serves its leading columns.
      {{"NAME"}, {"ASC"}, {"CASE"}, 0, 10},
      {{"NAME"}, {"DESC"}, {"CASE"}, 0, -1},
      {{"NAME"}, {"DESC"}, {""}, 0, 11},
      {{"NAME"}, {""}, {"NO_CASE"}, 0, 11},
      {{"name", "city"}, {"ASC", "ASC"}, {"CASE", "NO_CASE"}, 0, 10},
      {{"NAME", "CITY"}, {"ASC", "ASC"}, {"CASE", "CASE"}, 0, -1},
      {{"NAME", "CITY", "AGE"}, {"", "", ""}, {"", "", ""}, 0, -1},
      // Entries compare exactly: "desc" is not "DESC" and asks for nothing.
      {{"NAME"}, {"desc"}, {"case"}, 0, 10},
      // CASE means nothing for a field that is not text; NO_CASE always does.
      {{"AGE"}, {"ASC"}, {"CASE"}, 0, 20},
      {{"QTY"}, {""}, {"CASE"}, 0, 40},
      {{"QTY"}, {""}, {"NO_CASE"}, 0, -1},
      // A temporary index serves only its own session.
      {{"CITY"}, {"DESC"}, {""}, 3, 30},
      {{"CITY"}, {"DESC"}, {""}, 0, -1},
      // A field the definitions lack is taken for one that is not text.
      {{"GHOST"}, {""}, {"CASE"}, 0, 50},
      // Only Latin letters are upper-cased when names are compared.
      {{"CAF\xC9"}, {""}, {""}, 0, -1},
      {{"CAF\xE9"}, {""}, {""}, 0, 60},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Find(c.names, c.directions, c.cases, c.session), c.expected)
        << c.names[0] << " " << c.directions[0] << " " << c.cases[0] << " session " << c.session;
  }
}

TEST_F(FindIndexTest, MissingListsAndListsOfDifferentLengthsRaise) {
  const rtl::TStringList one = List({"NAME"}), two = List({"ASC", "ASC"});
  EXPECT_EQ(CodeOf([&] { indexes.FindIndex(nullptr, &one, &one, 0, fields); }), 10389);
  EXPECT_EQ(CodeOf([&] { indexes.FindIndex(&one, nullptr, &one, 0, fields); }), 10390);
  EXPECT_EQ(CodeOf([&] { indexes.FindIndex(&one, &one, nullptr, 0, fields); }), 10391);
  try {
    indexes.FindIndex(&one, &two, &one, 0, fields);
    FAIL() << "no exception";
  } catch (const EVEXException& e) {
    EXPECT_EQ(e.NativeError, 10276);
    EXPECT_NE(e.Message().find("Error - different list lengths. L1 = 1, L2 = 2"),
              std::string::npos);
  }
  EXPECT_EQ(CodeOf([&] { indexes.FindIndex(&one, &one, &two, 0, fields); }), 10277);
}

}  // namespace
}  // namespace vex
