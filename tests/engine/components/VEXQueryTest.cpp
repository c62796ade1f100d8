// The query component over a database file made by the engine, running small
// stand-in statements through the processor's dispatch: preparing and
// unpreparing with the row count, the SQL text and its parameters, the
// parameter values the processor gets, the result cursor as the query's
// records, detail queries, the database's closing order and the provider's
// statement execution.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/VEXDatabase.h"
#include "components/VEXLocalCursor.h"
#include "components/VEXLocalEngine.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/DataSet.h"
#include "engine/components/ScriptedUi.h"
#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "rtl/Variant.h"
#include "support/NativeError.h"
#include "support/ScratchDir.h"

namespace {

using testsupport::CodeOf;
using namespace vex;

// One run of a stand-in statement: its first word, the values of the
// parameters its text names ("NAME=value", "NAME=null"), and whether the
// query's database was silent while it ran.
struct TRun {
  std::string Kind;
  std::vector<std::string> Params;
  bool Silent = false;
};
std::vector<TRun> gRuns;

// A statement that takes its command to the end. An integer in it is the
// count of rows it affects (a parameter that holds an integer, too), "fail"
// makes it raise when it runs, and a SELECT returns a cursor over the table
// named after FROM, in the table's order, which it owns.
class StandInStatement : public TVEXSQLCommand {
 public:
  StandInStatement(TVEXLexer& Lexer, db::TDataSet* Query) : TVEXSQLCommand(Lexer, Query) {}

  void Parse() override {
    LLex->GetCurrentToken(Token);
    FRun.Kind = rtl::Utf16ToUtf8(Token.Text);
    bool afterFrom = false;
    do {
      if (afterFrom) FTable = rtl::Utf16ToWin1252(Token.Text);
      afterFrom = IsReservedWordToken(Token, rwFROM);
      if (Token.TokenType == tktInt) FRows = std::stoi(rtl::Utf16ToUtf8(Token.Text));
      if (Token.TokenType == tktParameter) {
        const TVEXVariant& value = *Token.ParamValue;
        std::string name = rtl::Utf16ToUtf8(Token.Text);
        FRun.Params.push_back(name + "=" +
                              (value.IsNull()           ? "null"
                               : value.IsBlobDataType() ? "blob"
                                                        : rtl::Utf16ToUtf8(value.AsWideString())));
        if (!value.IsNull() && value.DataType() == bftSignedInt32) FRows = value.AsInteger();
      }
      if (Token.Text == u"fail") FFail = true;
    } while (LLex->GetNextToken(Token));
  }

  void ExecSQL(db::TDataSet* Query, bool, bool RequestLive, bool& ReadOnly, TVEXAO*,
               TVEXCursor*) override {
    // What the statements of the engine do to reach the query's database.
    auto& query = static_cast<TVEXQuery&>(*Query);
    FRun.Silent = query.Database()->SilentMode();
    gRuns.push_back(FRun);
    if (FFail) throw EVEXException(1, "failed");
    RowsAffected = FRows;
    ReadOnly = !RequestLive;
    if (FRun.Kind != "SELECT") return;
    auto cursor = std::make_unique<TVEXLocalCursor>();
    cursor->SetSession(query.Database()->Handle());
    cursor->SetTableName(FTable);
    TVEXFieldDefs fields;
    TVEXIndexDefs indexes;
    TVEXConstraintDefs constraints;
    cursor->OpenTableByFieldDefs(fields, indexes, constraints);
    cursor->InternalInitFieldDefs();
    FCursor = std::move(cursor);
  }

  TVEXCursor* GetResultCursor() override { return FCursor.get(); }

 private:
  TRun FRun;
  std::string FTable;
  int32_t FRows = 0;
  bool FFail = false;
  std::unique_ptr<TVEXLocalCursor> FCursor;
};

const TVEXStatementRow kRows[] = {
    {rwSELECT, rwNone, NewSQLStatement<StandInStatement>},
    {rwUPDATE, rwNone, NewSQLStatement<StandInStatement>},
    {rwDELETE, rwNone, NewSQLStatement<StandInStatement>},
};

class Query : public ::testing::Test {
 protected:
  void SetUp() override {
    gRuns.clear();
    SetQueryStatementRowsForTesting(kRows);
    File = Dir / "hotel.vex";
    TVEXLocalSession creator;
    creator.SetDatabaseName("New");
    creator.SetDatabaseFileName(File);
    creator.SetPageSize(4096);
    creator.SetPageCountInExtent(8);
    creator.SetMaxSessionCount(500);
    creator.CreateDatabase();
    Database = std::make_unique<TVEXDatabase>(nullptr);
    Database->SetDatabaseName("Hotel");
    Database->SetDatabaseFileName(File);
    Database->Open();
    // Stay (A Integer primary, B String(10)) holding A = 1..5, B "b<A>".
    Stay = std::make_unique<TVEXTable>(nullptr);
    Stay->SetDatabaseName("Hotel");
    Stay->SetTableName("Stay");
    Stay->AdvFieldDefs().Add("A", aftInteger, 0, true);
    Stay->AdvFieldDefs().Add("B", aftString, 10, false);
    Stay->AdvIndexDefs().Add("ByA", "A", db::TIndexOptions{db::ixPrimary}, false, "", "", "");
    Stay->CreateTable();
    Stay->Open();
    for (int32_t a = 1; a <= 5; ++a) {
      Stay->Append();
      Stay->FieldByName("A")->SetAsVariant(rtl::Variant(a));
      Stay->FieldByName("B")->SetAsVariant(rtl::Variant("b" + std::to_string(a)));
      Stay->Post();
    }
    Stay->Close();
  }
  void TearDown() override {
    Queries.clear();
    Stay.reset();
    Database.reset();
    SetQueryStatementRowsForTesting({});
  }
  TVEXQuery& NewQuery(const std::string& Sql) {
    Queries.push_back(std::make_unique<TVEXQuery>(nullptr));
    TVEXQuery& q = *Queries.back();
    q.SetDatabaseName("Hotel");
    q.SQL().SetText(Sql);
    return q;
  }
  static std::vector<std::string> Column(db::TDataSet& DataSet, const std::string& Field) {
    std::vector<std::string> values;
    for (DataSet.First(); !DataSet.Eof(); DataSet.Next())
      values.push_back(DataSet.FieldByName(Field)->AsString());
    return values;
  }

  testsupport::ScratchDir Dir;
  vextest::ScriptedUi Ui;
  ui::ScopedUi UiScope{Ui};
  std::string File;
  std::unique_ptr<TVEXDatabase> Database;
  std::unique_ptr<TVEXTable> Stay;
  std::vector<std::unique_ptr<TVEXQuery>> Queries;
};

TEST_F(Query, RowsAffectedIsMinusOneUntilARunThenTheCountPreparedOrNot) {
  TVEXQuery& q = NewQuery("UPDATE Stay SET B = 'x' WHERE A <= 3");
  EXPECT_EQ(q.RowsAffected(), -1);

  // Unprepared: the run prepares, and its end gives the processor and the
  // database back, keeping the count.
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 3);
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(q.StmtHandle(), nullptr);
  EXPECT_EQ(q.Database(), nullptr);

  // Prepared: the processor stays for the next run and the count outlives it.
  q.Prepare();
  EXPECT_TRUE(q.Prepared());
  EXPECT_NE(q.Database(), nullptr);
  q.ExecSQL();
  q.ExecSQL();
  EXPECT_EQ(gRuns.size(), 3u);
  EXPECT_NE(q.StmtHandle(), nullptr);
  EXPECT_EQ(q.RowsAffected(), 3);
  q.UnPrepare();
  EXPECT_EQ(q.RowsAffected(), 3);
  EXPECT_EQ(q.Database(), nullptr);
}

TEST_F(Query, OpensTheLastStatementsCursorAndCloseUnpreparesAnUnpreparedQuery) {
  TVEXQuery& q = NewQuery("UPDATE Stay SET B = 'y' WHERE A = 1 1;\r\nSELECT * FROM Stay");
  q.Open();
  EXPECT_EQ((std::vector<std::string>{"UPDATE", "SELECT"}),
            (std::vector<std::string>{gRuns[0].Kind, gRuns[1].Kind}));
  EXPECT_EQ(Column(q, "B"), (std::vector<std::string>{"b1", "b2", "b3", "b4", "b5"}));
  EXPECT_EQ(q.RecordCount(), 5);
  EXPECT_TRUE(q.ReadOnly());  // the statement said so: a copied result
  EXPECT_EQ(q.Handle(), q.StmtHandle()->CurrentStatement()->GetResultCursor());
  // The database is silent while the statement runs, and as it was after.
  EXPECT_TRUE(gRuns.back().Silent);
  EXPECT_FALSE(Database->SilentMode());
  q.Close();
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(q.Database(), nullptr);

  // A text whose last statement has no cursor gives the query nothing to show.
  q.SQL().SetText("UPDATE Stay SET B = 'z'");
  EXPECT_THAT([&] { q.Open(); }, testsupport::RaisesNativeError(20001));
  EXPECT_FALSE(q.Active());
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(q.Database(), nullptr);
}

TEST_F(Query, RefreshOfAReadOnlyResultRunsTheTextAgain) {
  TVEXQuery& q = NewQuery("SELECT * FROM Stay");
  q.Open();
  q.Next();
  q.Refresh();
  EXPECT_EQ(gRuns.size(), 2u);
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(Column(q, "A").size(), 5u);
}

TEST_F(Query, ChangingTheTextClosesUnpreparesAndRebuildsParamsKeepingSurvivingValues) {
  TVEXQuery& q = NewQuery("SELECT * FROM Stay WHERE A = :A OR B = :B");
  ASSERT_EQ(q.ParamCount(), 2);
  EXPECT_EQ(q.Text(), "SELECT * FROM Stay WHERE A = ? OR B = ?\r\n");
  q.ParamByName("A")->SetAsInteger(2);
  q.ParamByName("B")->SetAsString("b4");
  q.Prepare();
  q.Open();
  EXPECT_EQ(gRuns.back().Params, (std::vector<std::string>{"A=2", "B=b4"}));

  // The same text again changes nothing.
  rtl::TStringList same;
  same.Add("SELECT * FROM Stay WHERE A = :A OR B = :B");
  q.SetSQL(same);
  EXPECT_TRUE(q.Active());
  EXPECT_TRUE(q.Prepared());

  // A new text: closed, unprepared, the database given back; B keeps its
  // value, A goes, C comes new.
  rtl::TStringList other;
  other.Add("SELECT * FROM Stay");
  other.Add("WHERE B = :b AND A > :C");
  q.SetSQL(other);
  EXPECT_FALSE(q.Active());
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(q.Database(), nullptr);
  ASSERT_EQ(q.ParamCount(), 2);
  EXPECT_EQ(q.Params()[0]->AsString(), "b4");
  EXPECT_EQ(q.Params()[1]->Name(), "C");
  EXPECT_TRUE(q.Params()[1]->IsNull());
  EXPECT_THROW(q.ParamByName("A"), db::EDatabaseError);

  // Without ParamCheck the list stays as it is.
  q.SetParamCheck(false);
  q.SQL().SetText("SELECT * FROM Stay WHERE A = :Other");
  EXPECT_EQ(q.ParamCount(), 2);
  EXPECT_EQ(q.Text(), "SELECT * FROM Stay WHERE A = :Other\r\n");
}

TEST_F(Query, AColonBetweenDoubleQuotesMakesNoParameter) {
  struct TCase {
    std::string Sql;
    std::vector<std::string> Params;
  };
  const TCase cases[] = {
      {"SELECT * FROM Stay WHERE B = \":\"", {}},
      {"SELECT \"a\":\"b\" FROM Stay", {}},
      {"SELECT * FROM Stay WHERE B = \":\" OR A = :A", {"A"}},
      {"SELECT * FROM Stay WHERE A = :\"quoted name\"", {"quoted name"}},
  };
  for (const TCase& c : cases) {
    TVEXQuery& q = NewQuery(c.Sql);
    std::vector<std::string> names;
    for (int32_t i = 0; i < q.ParamCount(); ++i) names.push_back(q.Params()[i]->Name());
    EXPECT_EQ(names, c.Params) << c.Sql;
  }
  EXPECT_EQ(Queries[1]->Text(), "SELECT \"a\":\"b\" FROM Stay\r\n");
}

TEST_F(Query, RefusesAnOpenQueryAndAMissingText) {
  TVEXQuery& q = NewQuery("SELECT * FROM Stay");
  q.Open();
  EXPECT_EQ(CodeOf([&] { q.Prepare(); }), 30141);
  EXPECT_TRUE(q.Active());
  q.Close();
  EXPECT_EQ(q.Database(), nullptr);  // the refused Prepare holds nothing

  TVEXQuery& empty = NewQuery("");
  const std::string message = testsupport::MessageOf([&] { empty.Prepare(); });
  EXPECT_NE(message.find("No SQL statement available"), std::string::npos);
  EXPECT_EQ(CodeOf([&] { empty.Prepare(); }), 30142);
  EXPECT_FALSE(empty.Prepared());
  EXPECT_EQ(empty.Database(), nullptr);
  EXPECT_EQ(CodeOf([&] { empty.Open(); }), 20034);
  EXPECT_EQ(CodeOf([&] { empty.ExecSQL(); }), 20034);
  EXPECT_EQ(empty.Database(), nullptr);

  // A failing run clears its flag: unprepared, database given back.
  TVEXQuery& failing = NewQuery("UPDATE Stay fail");
  EXPECT_EQ(CodeOf([&] { failing.ExecSQL(); }), 1);
  EXPECT_FALSE(failing.Prepared());
  EXPECT_EQ(failing.Database(), nullptr);
  // ExecSQL wants a closed query.
  q.Open();
  EXPECT_THROW(q.ExecSQL(), db::EDatabaseError);
}

TEST_F(Query, HandsTheProcessorParameterValuesByTheirDataType) {
  TVEXQuery& q = NewQuery("UPDATE Stay SET B = :P");
  db::TParam& p = *q.ParamByName("P");
  struct TCase {
    const char* What;
    std::function<void()> Set;
    TVEXBaseFieldType Type;
    bool Null;
    std::function<void(const TVEXSQLParam&)> Check;
  };
  const TCase cases[] = {
      {"wide memo",
       [&] {
         p.SetValue(rtl::Variant(std::u16string(u"ab")));
         p.SetDataType(db::ftWideMemo);
       },
       bftWideVarchar, false,
       [](const TVEXSQLParam& v) {
         EXPECT_EQ(v.AsWideString(), u"ab");
         EXPECT_EQ(v.StrLen(), 2);
       }},
      {"null integer",
       [&] {
         p.Clear();
         p.SetDataType(db::ftInteger);
       },
       bftSignedInt32, true, nullptr},
      {"null without type",
       [&] {
         p.Clear();
         p.SetDataType(db::ftUnknown);
       },
       bftUnknown, true, nullptr},
      {"time", [&] { p.SetAsTime(0.75); }, bftTime, false,
       [](const TVEXSQLParam& v) { EXPECT_EQ(v.AsVEXTime(), 18 * 3600 * 1000); }},
      {"blob", [&] { p.SetAsBlob(std::string("\0\1\2", 3)); }, bftBlob, false,
       [](const TVEXSQLParam& v) {
         ASSERT_EQ(v.DataSize(), 3);
         EXPECT_EQ(std::string(static_cast<const char*>(v.pData()), 3), std::string("\0\1\2", 3));
       }},
      {"memo", [&] { p.SetAsMemo("text"); }, bftVarchar, false,
       [](const TVEXSQLParam& v) { EXPECT_EQ(v.AsAnsiString(), "text"); }},
      // Other types keep the variant's own type: a string parameter that
      // holds an integer stays an integer.
      {"integer", [&] { p.SetAsInteger(7); }, bftSignedInt32, false,
       [](const TVEXSQLParam& v) { EXPECT_EQ(v.AsInteger(), 7); }},
      {"string holding an integer",
       [&] {
         p.SetAsInteger(7);
         p.SetDataType(db::ftString);
       },
       bftSignedInt32, false, nullptr},
  };
  q.Prepare();
  for (const TCase& c : cases) {
    c.Set();
    q.ExecSQL();
    const TVEXSQLParams& values = q.StmtHandle()->SQLParams();
    ASSERT_EQ(values.Count(), 1) << c.What;
    const TVEXSQLParam& v = values.GetValue(0);
    EXPECT_EQ(v.Name, u"P") << c.What;
    EXPECT_EQ(v.DataType(), c.Type) << c.What;
    EXPECT_EQ(v.IsNull(), c.Null) << c.What;
    if (c.Check) c.Check(v);
  }
  // A type the engine has no field type for is refused, null or not.
  p.Clear();
  p.SetDataType(db::ftADT);
  EXPECT_EQ(CodeOf([&] { q.ExecSQL(); }), 30289);
  p.SetValue(rtl::Variant(1));
  EXPECT_EQ(CodeOf([&] { q.ExecSQL(); }), 30289);
}

TEST_F(Query, ADetailQueryRunsAgainWhenItsMasterScrollsButNotInKeyEntry) {
  Stay->Open();
  db::TDataSource source(nullptr);
  source.SetDataSet(Stay.get());
  TVEXQuery& detail = NewQuery("SELECT * FROM Stay WHERE A = :A AND B <> :B");
  detail.ParamByName("B")->SetAsString("kept");  // bound by the application
  detail.SetDataSource(&source);
  detail.Open();
  ASSERT_EQ(gRuns.size(), 1u);
  EXPECT_EQ(gRuns.back().Params, (std::vector<std::string>{"A=1", "B=kept"}));

  Stay->Next();
  ASSERT_EQ(gRuns.size(), 2u);
  EXPECT_EQ(gRuns.back().Params, (std::vector<std::string>{"A=2", "B=kept"}));
  EXPECT_FALSE(detail.ParamByName("A")->Bound());

  Stay->SetKey();
  EXPECT_EQ(gRuns.size(), 2u);
  Stay->Cancel();

  std::vector<db::TField*> masterFields, detailFields;
  detail.GetDetailLinkFields(masterFields, detailFields);
  ASSERT_EQ(masterFields.size(), 2u);
  EXPECT_EQ(masterFields[0], Stay->FieldByName("A"));
  EXPECT_EQ(detailFields[1], detail.FieldByName("B"));

  // A source that shows the query itself would make a circle.
  db::TDataSource own(nullptr);
  own.SetDataSet(&detail);
  EXPECT_THROW(detail.SetDataSource(&own), db::EDatabaseError);
  detail.Close();
}

TEST_F(Query, TheDatabaseClosesItsQueriesBeforeItsTables) {
  std::vector<std::string> closed;
  Stay->AfterClose = [&](db::TDataSet&) { closed.push_back("table"); };
  Stay->Open();
  TVEXQuery& q = NewQuery("SELECT * FROM Stay");
  q.AfterClose = [&](db::TDataSet&) { closed.push_back("query"); };
  q.Prepare();
  q.Open();
  Database->Close();
  EXPECT_EQ(closed, (std::vector<std::string>{"query", "table"}));
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(q.Database(), nullptr);
}

TEST_F(Query, ADatasetExecutesProviderStatementsAndAnswersTheRowsAffected) {
  EXPECT_EQ(Stay->PSExecuteStatement("DELETE FROM Stay 3", nullptr), 3);
  db::TParams params;
  params.CreateParam(db::ftInteger, "N", db::ptInput)->SetAsInteger(4);
  db::TDataSet* shown = Stay.get();
  EXPECT_EQ(Stay->PSExecuteStatement("UPDATE Stay SET A = :N", &params, shown), 4);
  EXPECT_EQ(shown, nullptr);
  EXPECT_EQ(gRuns.back().Params, (std::vector<std::string>{"N=4"}));
  EXPECT_EQ(Database->DataSetCount(), 0);  // the temporary query is gone
}

TEST_F(Query, ProviderSupportReadsTheTableAndOrderFromTheText) {
  TVEXQuery& q = NewQuery("SELECT A, B FROM Stay s WHERE A > :A ORDER BY s.B DESC, A");
  EXPECT_EQ(q.PSGetTableName(), "Stay");
  std::unique_ptr<db::TIndexDef> order = q.PSGetDefaultOrder();
  ASSERT_NE(order, nullptr);
  EXPECT_EQ(order->Fields(), "B;A");
  EXPECT_EQ(order->DescFields(), "B");

  db::TParams params;
  params.CreateParam(db::ftInteger, "X", db::ptInput);
  q.PSSetParams(params);
  EXPECT_EQ(q.PSGetParams()[0]->Name(), "X");
  q.PSSetCommandText("");
  EXPECT_EQ(q.SQL().Count(), 1);
  q.PSSetCommandText("SELECT * FROM Other");
  EXPECT_EQ(q.PSGetTableName(), "Other");
}

}  // namespace
