// The fixture of the relational operator tests: small in-memory tables
// made by table components, table operators over them as a statement makes
// them, expressions parsed from text, and the rows an operator yields.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "components/VEXDatabase.h"
#include "components/VEXTable.h"
#include "db/Fields.h"
#include "rtl/CodePage.h"
#include "rtl/Variant.h"
#include "sql/VEXLexer.h"
#include "sql/VEXRelationalAlgebra.h"
#include "sql/algebra/VEXAOTable.h"
#include "sql/expression/VEXExpression.h"

namespace vextest {

using namespace vex;

using Lines = std::vector<std::string>;

// A cell of a table row: an integer, a text, or null.
struct Cell {
  Cell(int32_t v) : Int(v), Kind(0) {}       // NOLINT: rows read as literals
  Cell(const char* v) : Text(v), Kind(1) {}  // NOLINT
  Cell(std::nullptr_t) : Kind(2) {}          // NOLINT
  int32_t Int = 0;
  std::string Text;
  int Kind;
};

class OperatorTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& name : Made) {
      TVEXTable t(nullptr);
      t.SetDatabaseName("MEMORY");
      t.SetTableName(name);
      if (t.Exists()) t.DeleteTable();
    }
  }

  // A closed table component on the in-memory table Name.
  static std::unique_ptr<TVEXTable> Component(const std::string& Name) {
    auto t = std::make_unique<TVEXTable>(nullptr);
    t->SetDatabaseName("MEMORY");
    t->SetTableName(Name);
    return t;
  }
  // T(ID Integer, NAME Varchar(10), K Integer) with the rows given; Columns
  // renames the three columns.
  void MakeTable(const std::string& Name, const std::vector<std::vector<Cell>>& Rows,
                 bool IdIndex = false,
                 const std::vector<std::string>& Columns = {"ID", "NAME", "K"}) {
    std::unique_ptr<TVEXTable> t = Component(Name);
    t->AdvFieldDefs().Add(Columns[0], aftInteger, 0, false);
    t->AdvFieldDefs().Add(Columns[1], aftString, 10, false);
    t->AdvFieldDefs().Add(Columns[2], aftInteger, 0, false);
    if (IdIndex) t->AdvIndexDefs().Add("BYID", "ID", {});
    t->CreateTable();
    Made.push_back(Name);
    t->Open();
    for (const auto& row : Rows) {
      t->Append();
      for (int32_t f = 0; f < 3; ++f) {
        if (row[f].Kind == 0) t->Fields()[f]->SetAsVariant(rtl::Variant(row[f].Int));
        if (row[f].Kind == 1) t->Fields()[f]->SetAsVariant(rtl::Variant(row[f].Text));
      }
      t->Post();
    }
  }
  // A table operator over Name, opened as a statement opens its FROM table,
  // with the table's database component.
  static std::unique_ptr<TVEXAOTable> Table(const std::string& Name,
                                            const std::string& Alias = "") {
    std::unique_ptr<TVEXTable> t = Component(Name);
    t->Open();
    TVEXDatabase* database = t->Database();
    return std::make_unique<TVEXAOTable>(Name, Alias, database, std::move(t));
  }
  // A value expression parsed from Text; its lexer lives as long as the test.
  TVEXExpression* Expr(const std::string& Text, bool Condition = false) {
    Lexers.push_back(std::make_unique<TVEXLexer>(rtl::Utf8ToUtf16(Text), nullptr, false));
    Lexers.back()->GetNextCommand();
    auto e = std::make_unique<TVEXExpression>();
    if (Condition)
      e->ParseForBooleanExpression(nullptr, *Lexers.back());
    else
      e->ParseForValueExpression(nullptr, *Lexers.back());
    Owned.push_back(std::move(e));
    return Owned.back().get();
  }
  // Hands an expression made by Expr over (an operator takes it).
  std::unique_ptr<TVEXExpression> Take(TVEXExpression* E) {
    for (auto& owned : Owned)
      if (owned.get() == E) return std::move(owned);
    return nullptr;
  }
  static TVEXSelectListItem Col(const std::string& Name, const std::string& Alias = "",
                                const std::string& Table = "") {
    TVEXSelectListItem item;
    item.FieldName = Name;
    item.Pseudonym = Alias;
    item.TableName = Table;
    return item;
  }
  TVEXSelectListItem Computed(TVEXExpression* E, const std::string& Alias = "") {
    TVEXSelectListItem item;
    item.IsExpression = true;
    item.ValueExpr = Take(E).release();
    item.Pseudonym = Alias;
    return item;
  }
  static TVEXSelectListItem Computed(std::unique_ptr<TVEXExpression> E, const std::string& Alias) {
    TVEXSelectListItem item;
    item.IsExpression = true;
    item.ValueExpr = E.release();
    item.Pseudonym = Alias;
    return item;
  }
  // The visible columns of every row, in select-list order ("-" for null).
  static std::vector<std::string> Rows(TVEXAO& Op) {
    std::vector<int32_t> columns = Op.ResultFieldsOrder();
    if (columns.empty())
      for (int32_t i = 0; i < Op.FieldCount(); ++i)
        if (!Op.FieldLink(i).IsHidden) columns.push_back(i);
    std::vector<std::string> rows;
    for (Op.First(); !Op.Eof(); Op.Next()) {
      std::string row;
      for (int32_t c : columns) {
        TVEXVariant v;
        Op.GetFieldValue(v, c, true, false);
        if (!row.empty()) row += "|";
        row += v.IsNull() ? "-" : v.AsAnsiString();
      }
      rows.push_back(row);
    }
    return rows;
  }
  static std::vector<std::string> Names(TVEXAO& Op) {
    std::vector<std::string> names;
    for (int32_t no : Op.ResultFieldsOrder()) names.push_back(Op.FieldLink(no).DisplayName);
    return names;
  }
  static bool TempTableExists(const std::string& Name) {
    TVEXTable t(nullptr);
    t.SetTemporary(true);
    t.SetTableName(Name);
    return t.Exists();
  }

  std::vector<std::string> Made;
  std::vector<std::unique_ptr<TVEXLexer>> Lexers;
  std::vector<std::unique_ptr<TVEXExpression>> Owned;
};

}  // namespace vextest
