#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ExprCursorFixture.h"
#include "ExprNodeTestSupport.h"
#include "rtl/Lists.h"
#include "support/NativeError.h"

namespace vex {
namespace {

using namespace exprtest;
using testsupport::RaisesNativeError;

std::unique_ptr<TVEXExprNodeField> Col(TVEXCursor* cursor, const std::string& name,
                                       const std::string& table = "") {
  return std::make_unique<TVEXExprNodeField>(cursor, name, table);
}

TEST(ExprFieldNode, ReadsValuesAndNullBitsFromTheRecordBuffer) {
  CursorFixture f;
  f.SetInt(f.Record, 0, 42);
  f.SetText(f.Record, 1, "abc");
  f.SetNull(f.Record, 5);
  struct Row {
    const char* column;
    std::string expected;
  };
  for (const Row& row : std::vector<Row>{{"ID", "INTEGER 42"},
                                         {"name", "VARCHAR abc"},
                                         {"CODE", "UNKNOWN NULL"},
                                         {"WNAME", "UNKNOWN NULL"}}) {
    auto n = Col(&f.Cursor, row.column);
    EXPECT_EQ(Eval(*n), row.expected) << row.column;
  }
  auto id = Col(&f.Cursor, "ID");
  EXPECT_EQ(id->GetDataType(), aftInteger);
  EXPECT_EQ(id->GetDataSize(), 4);
  // The value points into the buffer: a change of the record shows at once.
  TVEXVariant& v = id->GetDataValue();
  f.SetInt(f.Record, 0, 7);
  EXPECT_EQ(Show(v), "INTEGER 7");
  // A null read keeps the type the last read gave.
  f.SetNull(f.Record, 0);
  EXPECT_EQ(Eval(*id), "INTEGER NULL");
}

TEST(ExprFieldNode, AProjectionAliasNamesTheTableField) {
  CursorFixture f;
  f.SetText(f.Record, 1, "abc");
  rtl::TStringList names, aliases;
  names.Add("NAME");
  aliases.Add("N");
  f.Cursor.ApplyProjection(names, aliases);
  auto n = Col(&f.Cursor, "N");
  EXPECT_EQ(n->FieldNo(), 1);
  EXPECT_EQ(Eval(*n), "VARCHAR abc");
}

TEST(ExprFieldNode, OuterQueryColumnsFollowTheOuterRecordAlone) {
  CursorFixture inner, outer;
  outer.SetInt(outer.Record, 5, 100);
  inner.SetInt(inner.Record, 0, 1);
  auto code = Col(nullptr, "CODE");
  auto id = Col(nullptr, "ID");
  // Asked without an operator of its own, CODE is found in the outer cursor.
  ASSERT_TRUE(code->CanBeAssigned(nullptr, nullptr, &outer.Cursor, false));
  EXPECT_TRUE(code->GetFromParent());
  code->AssignCursor(&inner.Cursor, nullptr, &outer.Cursor);
  id->AssignCursor(&inner.Cursor, nullptr, &outer.Cursor);
  EXPECT_EQ(code->Cursor(), &outer.Cursor);
  EXPECT_EQ(Eval(*code), "INTEGER 100");
  EXPECT_EQ(Eval(*id), "INTEGER 1");

  std::vector<uint8_t> other = testing::NullRecord(inner.Cursor.FieldDefs());
  inner.SetInt(other, 0, 2);
  inner.SetInt(other, 5, 200);
  auto both = Ar(doADD, std::move(code), std::move(id));
  both->AssignCursorBuffer(other.data(), true);
  EXPECT_EQ(Eval(*both), "INTEGER 201") << "only the outer column moved";
  both->AssignCursorBuffer(other.data(), false);
  EXPECT_EQ(Eval(*both), "INTEGER 202");
}

TEST(ExprFieldNode, BindingFailuresRaiseTheirCodes) {
  CursorFixture f;
  EXPECT_THAT([&] { Col(nullptr, "ID")->AssignCursor(nullptr, nullptr, nullptr); },
              RaisesNativeError(30202));
  EXPECT_THAT([&] { Col(&f.Cursor, "MISSING"); }, RaisesNativeError(30115));
  EXPECT_THAT([&] { Col(nullptr, "ID")->GetDataValue(); }, RaisesNativeError(30196));
  EXPECT_THAT([&] { Col(nullptr, "ID")->GetDataType(); }, RaisesNativeError(30284));
  FakeAO ao({FakeColumn{"T1", "ID"}});
  try {
    Col(nullptr, "X", "T1")->AssignAO(&ao, nullptr, nullptr);
    ADD_FAILURE() << "no raise";
  } catch (const EVEXException& e) {
    EXPECT_EQ(e.NativeError, 30197);
    EXPECT_NE(std::string(e.what()).find("'T1.X'"), std::string::npos) << e.what();
  }
}

TEST(ExprFieldNode, BindsToAnOperatorOnlyWhereTheNameIsUnambiguous) {
  FakeAO join({{"T1", "ID", aftInteger, 5}, {"T2", "ID", aftSmallint, 6}});
  FakeAO input({FakeColumn{"T2", "ID", aftSmallint, 6}});
  EXPECT_FALSE(Col(nullptr, "ID")->CanBeAssigned(&join, nullptr, nullptr, false));
  EXPECT_TRUE(Col(nullptr, "ID")->CanBeAssigned(&input, nullptr, nullptr, false));
  EXPECT_TRUE(Col(nullptr, "ID", "T1")->CanBeAssigned(&join, nullptr, nullptr, false));

  auto t2 = Col(nullptr, "ID", "T2");
  t2->AssignAO(&join, nullptr, nullptr);
  EXPECT_EQ(t2->AO(), &join);
  EXPECT_EQ(t2->FieldNo(), 1);
  EXPECT_EQ(t2->GetDataType(), aftSmallint);
  EXPECT_EQ(Eval(*t2), "INTEGER 6");
  // Not found in the operator, found in the outer query's operator.
  FakeAO outer({FakeColumn{"O", "REF", aftInteger, 9}});
  auto ref = Col(nullptr, "REF");
  ASSERT_TRUE(ref->CanBeAssigned(&input, &outer, nullptr, false));
  EXPECT_TRUE(ref->GetFromParent());
  ref->AssignAO(&input, &outer, nullptr);
  EXPECT_EQ(Eval(*ref), "INTEGER 9");
}

TEST(ExprFieldNode, SelectListAliasesRedirectTheColumn) {
  auto item = [](std::string table, std::string field, std::string alias, bool expr = false) {
    TVEXSelectListItem i;
    i.TableName = std::move(table);
    i.FieldName = std::move(field);
    i.Pseudonym = std::move(alias);
    i.IsExpression = expr;
    return i;
  };
  struct Row {
    const char* text;
    std::string table, name;
    std::vector<TVEXSelectListItem> list;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"alias N for NAME", "", "n", {item("T", "NAME", "N")}, "T.NAME"},
      {"chained: M for N, then N for NAME",
       "",
       "M",
       {item("", "N", "M"), item("", "NAME", "N")},
       ".NAME"},
      {"computed item is not a column", "", "N", {item("", "", "N", true)}, ".N"},
      {"other table's alias", "U", "N", {item("T", "NAME", "N")}, "U.N"},
  };
  for (const Row& r : rows) {
    TVEXExprNodeField n(nullptr, r.name, r.table);
    std::vector<TVEXSelectListItem> list = r.list;
    n.ReplacePseudonyms(list);
    EXPECT_EQ(n.TableName() + "." + n.FieldName(), r.expected) << r.text;
  }
}

TEST(ExprFieldNode, GroupByListIsMatchedByNameIgnoringCase) {
  TVEXExprNodeField n(nullptr, "Name", "T");
  EXPECT_TRUE(n.CanBeUsedInGroupBy(" id ;NAME;"));
  EXPECT_FALSE(n.CanBeUsedInGroupBy("ID;NAMES"));
  EXPECT_FALSE(n.CanBeUsedInGroupBy(""));
}

TEST(ExprFieldNode, AClobIsReadWholeThroughTheCursorStandingOnTheNodesBuffer) {
  CursorFixture f;
  std::vector<uint8_t> other = testing::NullRecord(f.Cursor.FieldDefs());
  SetBitInBuffer(false, 4, other.data());
  f.Cursor.Clobs[4] = std::string(100000, 'x');
  f.Cursor.Clobs[4].back() = 'y';
  TVEXExprNodeField note(&f.Cursor, "NOTE", "");
  note.AssignCursorBuffer(other.data(), false);
  TVEXVariant& v = note.GetDataValue();
  EXPECT_EQ(f.Cursor.OpenedOn, other.data());
  EXPECT_EQ(f.Cursor.CurrentRecordBuffer(), f.Record.data()) << "the cursor's buffer is back";
  EXPECT_EQ(f.Cursor.OpenField, -1) << "the stream is closed";
  EXPECT_EQ(v.DataType(), bftClob);
  const std::string text = v.AsAnsiString();
  ASSERT_EQ(text.size(), 100000u);
  EXPECT_EQ(text.back(), 'y');
  // A failed open leaves the cursor as it was.
  f.Cursor.FailOpen = true;
  EXPECT_THROW(note.GetDataValue(), rtl::EReadError);
  EXPECT_EQ(f.Cursor.CurrentRecordBuffer(), f.Record.data());
}

TEST(ExprBlobNode, MimeToBinDecodesBase64IntoABlob) {
  struct Row {
    const char* text;
    TVEXExprNodePtr arg;
    std::string bytes;
  };
  Row rows[] = {{"'SGVsbG8='", S("SGVsbG8="), "Hello"},
                {"''", S(""), ""},
                {"NULL", Null(bftVarchar), ""},
                {"'AAEC/w=='", S("AAEC/w=="), std::string("\x00\x01\x02\xff", 4)}};
  for (Row& r : rows) {
    TVEXExprNodeBlob n(std::move(r.arg));
    const TVEXVariant& v = n.GetDataValue();
    EXPECT_EQ(v.DataType(), bftBlob) << r.text;
    const std::string got =
        v.IsNull() ? "" : std::string(static_cast<const char*>(v.pData()), v.DataSize());
    EXPECT_EQ(got, r.bytes) << r.text;
  }
  TVEXExprNodeBlob n(S("SGVsbG8="));
  EXPECT_EQ(n.GetDataType(), aftString);
  EXPECT_EQ(n.GetDataSize(), 0);
}

class FakeAutoincTable : public TVEXLastAutoincTable {
 public:
  TVEXAdvancedFieldType FindFieldType(const std::string& name) override {
    return name == "ID" ? aftAutoIncSmallint : aftUnknown;
  }
  int64_t LastAutoincValue(const std::string&) override { return ++Last; }
  int64_t Last = 41;
};

TEST(ExprSystemNode, LastAutoincReadsTheTablesValueAndChecksTheColumnAtCreation) {
  TVEXExprNodeSystem last(doLASTAUTOINC, std::make_unique<FakeAutoincTable>(), "T", "ID", false);
  EXPECT_EQ(last.GetDataType(), aftAutoIncSmallint);
  EXPECT_EQ(Eval(last), "INT64 42");
  EXPECT_EQ(Eval(last), "INT64 43");
  EXPECT_THAT(
      [] {
        TVEXExprNodeSystem(doLASTAUTOINC, std::make_unique<FakeAutoincTable>(), "T", "X", false);
      },
      RaisesNativeError(30337));
}

TEST(ExprFieldNode, ComparisonsWithColumns) {
  CursorFixture f;
  f.SetText(f.Record, 1, "Abc");
  f.SetInt(f.Record, 0, 3);
  // A wide literal compared with an 8-bit column becomes 8-bit text.
  auto wide = W(u"Abc");
  auto* constant = static_cast<TVEXExprNodeConst*>(wide.get());
  TVEXExprNodePtr eq = Cmp(doEQ, Col(&f.Cursor, "NAME"), std::move(wide));
  eq->AdjustConstantTypes();
  EXPECT_EQ(constant->Value.DataType(), bftVarchar);
  EXPECT_EQ(Eval(*eq), "LOGICAL TRUE");

  RunCases({
      {"UPPER(NAME) = 'ABC'",
       [&] { return Cmp(doEQ, Str(doUPPER, Col(&f.Cursor, "NAME")), S("ABC")); }, "LOGICAL TRUE"},
      {"NAME = 'abc'", [&] { return Cmp(doEQ, Col(&f.Cursor, "NAME"), S("abc")); },
       "LOGICAL FALSE"},
      {"ID < 3.5", [&] { return Cmp(doLT, Col(&f.Cursor, "ID"), D(3.5)); }, "LOGICAL TRUE"},
      {"CODE (null) = NULL three-valued", [&] { return Cmp(doEQ, Col(&f.Cursor, "CODE"), Null()); },
       "LOGICAL FALSE"},
      {"CODE (null) = NULL two-valued",
       [&] { return Cmp(doEQ, Col(&f.Cursor, "CODE"), Null(), false); }, "LOGICAL TRUE"},
  });
  // A comparison types itself by the fold of its operands.
  EXPECT_EQ(Cmp(doLT, Col(&f.Cursor, "ID"), D(3.5))->GetDataType(), aftDouble);
}

}  // namespace
}  // namespace vex
