// Field and index definitions, parameters and their SQL parser, and the
// master-detail link.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VectorDataSet.h"
#include "db/Params.h"

using namespace db;
using dbtest::TVectorDataSet;

namespace {

TEST(IndexDefsTest, FindIndexForFieldsPrefersAnExactMatchThenLeadingFields) {
  TVectorDataSet ds;
  ds.SetName("T");
  TIndexDefs& defs = ds.IndexDefs();
  defs.Add("byNameDesc", "NAME", TIndexOptions{ixDescending});
  defs.Add("byNameCity", "NAME;CITY", TIndexOptions{});
  defs.Add("byName", "NAME", TIndexOptions{ixCaseInsensitive});
  defs.Add("byExpr", "CITY", TIndexOptions{ixExpression});
  defs.SetUpdated(true);

  EXPECT_EQ(defs.FindIndexForFields("name")->Name(), "byName");
  EXPECT_EQ(defs.FindIndexForFields("NAME;CITY")->Name(), "byNameCity");
  EXPECT_EQ(defs.GetIndexForFields("NAME", true)->Name(), "byName");
  defs.Delete(defs.IndexOf("BYNAME"));
  EXPECT_EQ(defs.FindIndexForFields("NAME")->Name(), "byNameCity");  // leading fields
  EXPECT_EQ(defs.GetIndexForFields("NAME", true), nullptr);
  EXPECT_EQ(defs.GetIndexForFields("NA", false), nullptr);  // not a whole field name
  try {
    defs.FindIndexForFields("CITY");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "T: No index for fields 'CITY'");
  }
  try {
    defs.Find("nope");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "T: Index 'nope' not found");
  }
}

TEST(FieldDefsTest, UpdateOfAClosedDatasetReadsTheDefinitionsWithoutOpeningIt) {
  TVectorDataSet ds;
  ds.AddColumn("ID", ftInteger);
  ds.AddColumn("NAME", ftString, 12);
  ds.FieldDefs().Update();
  ASSERT_EQ(ds.FieldDefs().Count(), 2);
  EXPECT_EQ(ds.FieldDefs()[1]->Name(), "NAME");
  EXPECT_EQ(ds.FieldDefs()[1]->Size(), 12);
  EXPECT_EQ(ds.FieldDefs()[1]->FieldNo(), 2);
  EXPECT_EQ(ds.FieldDefs().Find("name"), ds.FieldDefs()[1]);
  EXPECT_THROW(ds.FieldDefs().Find("X"), EDatabaseError);
  EXPECT_THROW(ds.FieldDefs().Add("id", ftInteger), EDatabaseError);  // duplicate name
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.Allocated(), 0);
  EXPECT_EQ(ds.FieldCount(), 0);
}

// The dataset hears of changes that others make to its definitions (a table
// keeps definitions it was given), not of its own refresh of them.
TEST(DefinitionsTest, ChangesByOthersReachDefChangedButTheDatasetsOwnRefreshDoesNot) {
  TVectorDataSet ds;
  ds.AddColumn("ID", ftInteger);
  ds.Indexes = {{"byId", "ID"}};
  ds.FieldDefs().Update();
  ds.IndexDefs().Update();
  ASSERT_EQ(ds.IndexDefs().Count(), 1);
  EXPECT_TRUE(ds.DefChanges.empty());

  ds.FieldDefs().Add("NAME", ftString, 10);
  ds.IndexDefs().Add("byName", "NAME", TIndexOptions{});
  ds.IndexDefs().Delete(0);
  EXPECT_EQ(ds.DefChanges, (std::vector<void*>{&ds.FieldDefs(), &ds.IndexDefs(), &ds.IndexDefs()}));
}

TEST(ExtractFieldNameTest, SplitsAtSemicolonsAndTrims) {
  std::string list = " A ; B;;C;";
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < list.size()) names.push_back(ExtractFieldName(list, pos));
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "", "C"}));
}

struct ParseCase {
  const char* sql;
  const char* text;
  std::vector<std::string> names;
};

class ParseSQLTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseSQLTest, FindsNamedParametersAsTheLexerDoes) {
  const ParseCase& c = GetParam();
  TParams params;
  params.CreateParam(ftInteger, "stale", ptInput);
  EXPECT_EQ(params.ParseSQL(c.sql, true), c.text);
  std::vector<std::string> names;
  for (int32_t i = 0; i < params.Count(); ++i) names.push_back(params[i]->Name());
  EXPECT_EQ(names, c.names);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseSQLTest,
    ::testing::Values(
        ParseCase{"select * from t where a = :A and b=:b2",
                  "select * from t where a = ? and b=?",
                  {"A", "b2"}},
        ParseCase{"x = :id or y = :ID", "x = ? or y = ?", {"id"}},  // one per name
        ParseCase{"n = 'it:s' || :p", "n = 'it:s' || ?", {"p"}},
        ParseCase{"a = :\"my param\" and b = :[other]", "a = ? and b = ?", {"my param", "other"}},
        ParseCase{"-- :c\n/* :d */ :e", "-- :c\n/* :d */ ?", {"e"}},
        ParseCase{":t.col, :n+1, (:m)", "?.col, ?+1, (?)", {"t", "n", "m"}},
        ParseCase{"? and :x", "? and ?", {"x"}}, ParseCase{"[a:b] = `c:d`", "[a:b] = `c:d`", {}},
        ParseCase{"a : b", "a : b", {}}));

TEST(ParamsTest, TypedSettersSetTheTypeAndBindTheParameter) {
  TVectorDataSet owner;
  owner.SetName("Q");
  TParams params(&owner);
  params.ParseSQL("select :a, :b, :c, :d", true);
  TParam* a = params.ParamByName("A");
  EXPECT_EQ(a->DataType(), ftUnknown);
  EXPECT_FALSE(a->Bound());
  EXPECT_TRUE(a->IsNull());
  a->SetAsInteger(3);
  EXPECT_EQ(a->DataType(), ftInteger);
  EXPECT_TRUE(a->Bound());
  EXPECT_EQ(a->AsString(), "3");
  params.ParamByName("b")->SetAsDate(42000.75);
  EXPECT_EQ(params.ParamByName("b")->DataType(), ftDate);
  EXPECT_EQ(params.ParamByName("b")->AsDateTime(), 42000.75);
  params.ParamByName("c")->SetAsString("text");
  EXPECT_EQ(params.ParamByName("c")->DataType(), ftString);
  params.ParamByName("d")->SetValue(rtl::Variant(2.5));
  EXPECT_EQ(params.ParamByName("d")->DataType(), ftFloat);
  a->Clear();
  EXPECT_TRUE(a->IsNull());
  EXPECT_FALSE(a->Bound());
  EXPECT_EQ(a->DataType(), ftInteger);
  EXPECT_EQ(a->AsInteger(), 0);
  try {
    params.ParamByName("zz");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Q: Parameter 'zz' not found");
  }

  // Reparsing keeps the values of parameters whose names remain, through
  // AssignValues.
  TParams fresh;
  fresh.ParseSQL("select :C, :e", true);
  fresh.AssignValues(params);
  EXPECT_EQ(fresh.ParamByName("c")->AsString(), "text");
  EXPECT_TRUE(fresh.ParamByName("e")->IsNull());
  EXPECT_EQ(fresh.Count(), 2);
}

// A detail dataset that follows a master through a master link.
class TDetail : public TVectorDataSet {
 public:
  TDetail() : Link(this) {}
  ~TDetail() override { Link.SetDataSource(nullptr); }
  TDataSource* GetDataSource() override { return Link.DataSource(); }
  TMasterDataLink Link;
};

TEST(MasterDetailTest, TheDetailHearsMasterMovesAndItsClosing) {
  TVectorDataSet master;
  master.AddColumn("ID", ftInteger);
  master.AddColumn("NAME", ftString, 5);
  master.Open();
  for (int i = 1; i <= 3; ++i) {
    master.Append();
    master.FieldByName("ID")->SetAsInteger(i);
    master.Post();
  }
  TDataSource source(nullptr);
  source.SetDataSet(&master);

  TDetail detail;
  detail.AddColumn("MASTER", ftInteger);
  detail.Open();
  detail.Link.SetFieldNames("ID");
  std::vector<int> seen;
  int disabled = 0;
  detail.Link.OnMasterChange = [&](TMasterDataLink& link) {
    seen.push_back(link.Fields().at(0)->AsInteger());
  };
  detail.Link.OnMasterDisable = [&](TMasterDataLink&) { ++disabled; };
  detail.Link.SetDataSource(&source);
  ASSERT_EQ(detail.Link.Fields().size(), 1u);

  master.First();
  master.Next();
  master.Edit();
  master.FieldByName("NAME")->SetAsString("x");  // not a linked field: no change
  master.Post();
  // Linking, First, Next, then the record change of Edit and the resync of Post.
  EXPECT_EQ(seen, (std::vector<int>{3, 1, 2, 2, 2}));
  master.Close();
  EXPECT_EQ(disabled, 1);

  // A master that already shows the detail cannot become its master.
  TDataSource back(nullptr);
  back.SetDataSet(&detail);
  try {
    source.SetDataSet(&detail);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Circular datalinks are not allowed");
  }
  EXPECT_TRUE(master.IsLinkedTo(nullptr) == false);
  EXPECT_TRUE(detail.IsLinkedTo(&back));
}

}  // namespace
