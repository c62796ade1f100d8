// INSERT through the query component: VALUES rows by position and by name,
// parameters, INSERT ... SELECT (a table into itself included), the parse
// errors, the write lock of INSERT ... SELECT, and AssignVariantToField per
// field type.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/sql/dml/DMLFixture.h"
#include "components/VEXEngineError.h"
#include "foundation/VEXVariant.h"
#include "rtl/DateTime.h"
#include "rtl/Exception.h"
#include "sql/dml/VEXDMLCommand.h"
#include "sql/dml/VEXSQLInsert.h"
#include "sql/expression/VEXExpression.h"
#include "support/FakeClock.h"

namespace {

using namespace vex;
using testing::HasSubstr;
using testsupport::CodeOf;
using vextest::DML;
using vextest::Rows;

class Insert : public DML {
 protected:
  void SetUp() override {
    DML::SetUp();
    Exec("CREATE TABLE t (a INTEGER, b VARCHAR(10))");
  }
};

TEST_F(Insert, ValuesRowsGoByPositionOrByTheColumnListAndCount) {
  EXPECT_EQ(Exec("INSERT INTO t VALUES (1, 'a'), (2, 'b')"), 2);
  EXPECT_EQ(Exec("INSERT INTO t (b, a) VALUES ('x', 3)"), 1);
  // An empty text is stored as null; a column left out of the list is null.
  EXPECT_EQ(Exec("INSERT INTO t (a, b) VALUES (4, ''); INSERT INTO t (a) VALUES (5)"), 2);
  EXPECT_EQ(Select("SELECT a, b FROM t ORDER BY a"),
            (Rows{"1|a", "2|b", "3|x", "4|-", "5|-"}));
}

TEST_F(Insert, ParametersGiveValuesAndTheTableName) {
  TVEXQuery& q = NewQuery("INSERT INTO :tab (a, b) VALUES (:n, :s), (:n + 1, 'k')");
  q.ParamByName("tab")->SetAsString("t");
  q.ParamByName("n")->SetAsInteger(7);
  q.ParamByName("s")->SetAsString("seven");
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 2);
  EXPECT_EQ(Select("SELECT a, b FROM t ORDER BY a"), (Rows{"7|seven", "8|k"}));
}

TEST_F(Insert, SelectedRowsAreCopiedFirstSoATableDoublesIntoItself) {
  Exec("INSERT INTO t VALUES (1, 'a'), (2, 'b')");
  EXPECT_EQ(Exec("INSERT INTO t SELECT * FROM t"), 2);
  EXPECT_EQ(Select("SELECT a, b FROM t ORDER BY a, b"), (Rows{"1|a", "1|a", "2|b", "2|b"}));
  // A column list maps the SELECT's columns in order; the parenthesised form
  // is the same.
  Exec("CREATE TABLE u (x VARCHAR(10), y INTEGER)");
  EXPECT_EQ(Exec("INSERT INTO u (y, x) SELECT a + 10, b FROM t WHERE a = 1"), 2);
  EXPECT_EQ(Exec("INSERT INTO u (y, x) (SELECT a, 'z' FROM t WHERE a = 2)"), 2);
  EXPECT_EQ(Select("SELECT x, y FROM u ORDER BY y"), (Rows{"z|2", "z|2", "a|11", "a|11"}));
}

TEST_F(Insert, ASelectWithMoreColumnsThanTheListOrTableIsAListIndexError) {
  Exec("INSERT INTO t VALUES (1, 'a')");
  EXPECT_THROW(Exec("INSERT INTO t (a) SELECT a, b FROM t"), rtl::EListError);
  EXPECT_THROW(Exec("INSERT INTO t SELECT a, b, a FROM t"), rtl::EListError);
  // The batch of the failed statement was cancelled.
  EXPECT_EQ(Select("SELECT a, b FROM t"), (Rows{"1|a"}));
}

TEST_F(Insert, AFailingRowKeepsTheRowsPostedBeforeIt) {
  Exec("CREATE TABLE k (a INTEGER PRIMARY KEY)");
  EXPECT_THROW(Exec("INSERT INTO k VALUES (1), (2), (1), (3)"), EVEXEngineError);
  EXPECT_EQ(Select("SELECT a FROM k ORDER BY a"), (Rows{"1", "2"}));
}

TEST_F(Insert, ParseErrorsNameTheTokenAndItsPlace) {
  struct Case {
    const char* Sql;
    int32_t Code;
    const char* Text;
  };
  const Case cases[] = {
      {"INSERT", 30205, "Unexpected end of SQL command found at line 1, column 1"},
      {"INSERT t VALUES (1)", 30206, "Token 'INTO' expected, but 't' found at line 1, column 8"},
      {"INSERT INTO (a) VALUES (1)", 30207, "Table name expected, but '(' found"},
      {"INSERT INTO MEMORY", 30208, "Table name expected"},
      {"INSERT INTO t", 30209, "Unexpected end of SQL command found at line 1, column 13"},
      {"INSERT INTO db.(a)", 30493, "Table name expected, but '(' found"},
      {"INSERT INTO t PASSWORD x VALUES (1)", 30210, "Quoted password expected"},
      {"INSERT INTO t PASSWORD 'x'", 30211, "Unexpected end of SQL command"},
      {"INSERT INTO t (1) VALUES (1)", 2156, "Field name expected, but '1' found"},
      {"INSERT INTO t (a b) VALUES (1)", 30212, "')' or ',' symbol expected, but 'b' found"},
      {"INSERT INTO t WHERE", 30213, "Unexpected end of SQL command found at line 1, column 15"},
      {"INSERT INTO t VALUES 1", 30214, "'(' symbol expected, but '1' found"},
      {"INSERT INTO t VALUES (,)", 30357, "Error parsing parameter ',' at line 1, column 23"},
      {"INSERT INTO t (a) VALUES (1, 2)", 20259,
       "Number of field names does not equal the number of field values: 1 <> 2. Found at line "
       "1, column 26"},
      {"INSERT INTO t (SELECT a FROM t ORDER BY a x)", 20256,
       "Missing symbol ')' at line 1, column 43"},
      // Faults mended: a later row is checked against the list as the first
      // one is; a value followed by something else than "," or ")"; tokens
      // after the rows or the SELECT; a column list followed by nothing.
      {"INSERT INTO t (a) VALUES (1), (2, 3)", 20259,
       "1 <> 2. Found at line 1, column 31"},
      {"INSERT INTO t VALUES (1 2 3)", 30520, "')' or ',' symbol expected, but '2' found"},
      {"INSERT INTO t VALUES (1), (2) (3)", 30521,
       "End of SQL command expected, but '(' found at line 1, column 31"},
      {"INSERT INTO t VALUES (1), 2", 30214, "'(' symbol expected, but '2' found"},
      {"INSERT INTO t SELECT a FROM t x y", 30521, "End of SQL command expected, but 'y' found"},
      {"INSERT INTO t (a, b)", 30213, "Unexpected end of SQL command found at line 1, column 20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    std::string message;
    EXPECT_EQ(CodeOfExec(c.Sql, &message), c.Code) << message;
    EXPECT_THAT(message, HasSubstr(c.Text));
  }
  EXPECT_TRUE(Select("SELECT * FROM t").empty());
}

TEST_F(Insert, AValueThatYieldsNothingNamesTheColumnAndItsType) {
  // No parsed value yields nothing; an expression without a tree stands in.
  TVEXQuery& q = NewQuery("INSERT INTO t (b, a) VALUES ('x', 1)");
  q.Prepare();
  TVEXLexer lexer(u"INSERT INTO t (b, a) VALUES ('x', 1)", nullptr, false);
  lexer.GetNextCommand();
  TVEXSQLInsert insert(lexer, &q);
  insert.Parse();
  insert.FieldValues[0][1] = std::make_unique<TVEXExpression>();
  bool readOnly = false;
  std::string message;
  EXPECT_EQ(CodeOf([&] { insert.ExecSQL(&q, true, false, readOnly, nullptr, nullptr); }, &message),
            30356);
  EXPECT_THAT(message, HasSubstr("Parameter Value undefined (FieldName='a', Type='INTEGER')"));
  EXPECT_TRUE(Select("SELECT * FROM t").empty());
}

TEST_F(Insert, InsertSelectWaitsBoundedForTheWriteLockOfAnotherConnection) {
  Exec("CREATE TABLE u (a INTEGER, b VARCHAR(10)); INSERT INTO u VALUES (1, 'a')");
  OpenHolder("t");
  // A reader's shared lock keeps writers out.
  ASSERT_TRUE(HolderTakes(ltS));
  {
    testsupport::FakeClockScope clock;
    std::string message;
    EXPECT_EQ(CodeOfExec("INSERT INTO t SELECT * FROM u", &message), 20224) << message;
    // The lock manager spreads its pauses over half to all of the delay.
    EXPECT_GE(clock.Clock.SleepCount(), kWriteLockTries - 1u);
    EXPECT_LE(clock.Clock.SleepCount(), uint64_t{kWriteLockTries});
    EXPECT_GE(clock.Clock.TickCount(), (kWriteLockTries - 1) * uint64_t{kWriteLockPauseMs / 2});
  }
  HolderGives(ltS);
  // Nothing of the statement's is left: the other connection locks
  // exclusively, and the statement runs once the table is free.
  ASSERT_TRUE(HolderTakes(ltX));
  HolderGives(ltX);
  EXPECT_EQ(Exec("INSERT INTO t SELECT * FROM u"), 1);
  ASSERT_TRUE(HolderTakes(ltX));
  HolderGives(ltX);
}

// ---- AssignVariantToField

class AssignValue : public DML {};

TEST_F(AssignValue, EachFieldTypeTakesTheValueInItsOwnForm) {
  Exec("CREATE TABLE v (i INTEGER, big LARGEINT, d DATE, tm TIME, dt DATETIME, ts TIMESTAMP, "
       "m MEMO, b BLOB, s VARCHAR(20))");
  TVEXTable t(nullptr);
  t.SetDatabaseName("Hotel");
  t.SetTableName("v");
  t.Open();
  const double moment = rtl::EncodeDate(2026, 12, 11) + 15.5 / 24;
  const auto dateTime = [&] {
    auto v = std::make_unique<TVEXVariant>();
    v->SetAsTDateTime(moment);
    return v;
  };
  const std::string raw("\x00\x01\xff", 3);
  const std::u16string wide = u"Gr\u00fc\u00dfe";
  struct Case {
    const char* Field;
    std::unique_ptr<TVEXVariant> Value;
    rtl::Variant Expected;
  };
  std::vector<Case> cases;
  const auto add = [&](const char* field, std::unique_ptr<TVEXVariant> value,
                       rtl::Variant expected) {
    cases.push_back({field, std::move(value), std::move(expected)});
  };
  {
    auto v = std::make_unique<TVEXVariant>();
    v->SetAsInt64(5000000000);
    add("big", std::move(v), rtl::Variant(int64_t{5000000000}));
  }
  {
    auto v = std::make_unique<TVEXVariant>();
    v->SetAsAnsiString("42");
    add("i", std::move(v), rtl::Variant(42));
  }
  add("d", dateTime(), rtl::Variant::FromDate(rtl::EncodeDate(2026, 12, 11)));
  add("tm", dateTime(), rtl::Variant::FromDate(15.5 / 24));
  add("dt", dateTime(), rtl::Variant::FromDate(moment));
  add("ts", dateTime(), rtl::Variant::FromDate(moment));
  {
    auto v = std::make_unique<TVEXVariant>();
    v->SetAsWideString(wide);
    add("m", std::move(v), rtl::Variant(std::string("Gr\xfc\xdf" "e")));
  }
  {
    auto v = std::make_unique<TVEXVariant>();
    v->SetAsAnsiString("plain");
    add("b", std::move(v), rtl::Variant(std::string("plain")));
  }
  {
    auto v = std::make_unique<TVEXVariant>();
    v->SetData(raw.data(), 3, bftBytes, true);
    add("b", std::move(v), rtl::Variant(raw));
  }
  {
    // A wide large text keeps its characters in a memo.
    const std::u16string text = wide + u'\0';
    auto v = std::make_unique<TVEXVariant>();
    v->SetData(text.data(), static_cast<int32_t>(text.size() * 2), bftWideClob, true);
    add("m", std::move(v), rtl::Variant(std::string("Gr\xfc\xdf" "e")));
  }
  {
    auto v = std::make_unique<TVEXVariant>();
    v->SetAsInteger(17);
    add("s", std::move(v), rtl::Variant(std::string("17")));
  }
  for (Case& c : cases) {
    SCOPED_TRACE(c.Field);
    t.Append();
    db::TField* field = t.FieldByName(c.Field);
    AssignVariantToField(c.Value.get(), field);
    t.Post();
    if (field->DataType() == db::ftString || field->DataType() == db::ftInteger ||
        field->DataType() == db::ftLargeint || field->DataType() == db::ftMemo ||
        field->DataType() == db::ftBlob) {
      EXPECT_EQ(field->AsVariant(), c.Expected);
    } else {
      // Date and time fields keep milliseconds.
      EXPECT_NEAR(field->AsDateTime(), c.Expected.AsDouble(), 1e-8);
    }
  }

  // A null value clears the field; no value at all is refused.
  t.Append();
  t.FieldByName("s")->SetAsString("x");
  TVEXVariant null;
  AssignVariantToField(&null, t.FieldByName("s"));
  EXPECT_TRUE(t.FieldByName("s")->IsNull());
  EXPECT_THAT([&] { AssignVariantToField(nullptr, t.FieldByName("s")); },
              testsupport::RaisesNativeError(30359));
  t.Cancel();
}

}  // namespace
