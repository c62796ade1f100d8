// The SELECT block's grammar (see VEXSQLSelect.h); the plan is built in
// VEXSQLSelectPlan.cpp.
#include "sql/statements/VEXSQLSelect.h"

#include <charconv>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "sql/expression/VEXExpression.h"
#include "sql/statements/VEXTableReference.h"

namespace vex {

namespace {

constexpr std::string_view kTableNameExpected =
    "Table name expected, but '%s' found at line %d, column %d";
constexpr std::string_view kUnexpectedToken = "Unexpected token '%s' found at line %d, column %d";
constexpr TTokenTypes kFromItemStart{tktString,       tktQuotedString, tktBracketedString,
                                     tktReservedWord, tktParameter,    tktLeftParenthesis};
constexpr TTokenTypes kReservedWordOnly{tktReservedWord};

bool SameText(const std::string& A, const std::string& B) {
  return rtl::UpperCase(A) == rtl::UpperCase(B);
}

// A parameter's table name "db"."tab" (a doubled quote inside the first pair
// stands for one): the database inside the quotes, the table after the
// character that follows them. False when Name does not start with a quote.
bool SplitQuotedTableName(const std::string& Name, std::string& Database, std::string& Table) {
  if (Name.empty() || Name[0] != '"') return false;
  std::string database;
  size_t i = 1;
  for (; i < Name.size(); ++i) {
    if (Name[i] != '"') {
      database += Name[i];
    } else if (i + 1 < Name.size() && Name[i + 1] == '"') {
      database += '"';
      ++i;
    } else {
      break;
    }
  }
  Database = std::move(database);
  Table = i + 2 <= Name.size() ? Name.substr(i + 2) : std::string();
  return true;
}

}  // namespace

TVEXSQLSelect::TVEXSQLSelect(TVEXLexer& Lexer, db::TDataSet* Query)
    : TVEXSQLCursorCommand(Lexer, Query) {}

TVEXSQLSelect::~TVEXSQLSelect() {
  FreeRootAO();
  FreeSelectListExpressions();
}

void TVEXSQLSelect::FreeSelectListExpressions() noexcept {
  for (TVEXSelectListItem& item : SelectList) {
    delete item.ValueExpr;
    item.ValueExpr = nullptr;
  }
}

void TVEXSQLSelect::RaiseTokenExpected(int32_t Code, std::string_view Expected) const {
  throw EVEXException(Code, "Token '%s' expected, but '%s' found at line %d, column %d", Expected,
                      Token.Text, Token.LineNum, Token.ColumnNum);
}

// ------------------------------------------------------------------- clauses

void TVEXSQLSelect::Parse() {
  if (!ReadCurrentToken()) throw EVEXException(30155, "Blank SQL command");
  ParseSelectKeyword();
  ParseSetQuantifier();
  ParseTopClause();
  ParseSelectList();
  ParseIntoClause();
  ParseFromClause();
  ParseWhereClause();
  ParseGroupByClause();
  ParseHavingClause();
  ParseOrderBy();
}

void TVEXSQLSelect::ParseSelectKeyword() {
  if (!IsReservedWordToken(Token, rwSELECT))
    RaiseAtToken(30156, "SQL token expected, but '%s' found at line %d, column %d");
  ReadNextToken();
}

void TVEXSQLSelect::ParseSetQuantifier() {
  if (IsReservedWordToken(Token, rwDISTINCT)) {
    Distinct = true;
    ReadNextToken();
  } else if (IsReservedWordToken(Token, rwALL)) {
    ReadNextToken();
  }
}

void TVEXSQLSelect::ParseTopClause() {
  if (!IsReservedWordToken(Token, rwTOP)) return;
  constexpr TTokenTypes kNumber{tktInt, tktParameter};
  constexpr std::string_view kIntegerExpected =
      "Integer expected, but '%s' found at line %d, column %d";
  const auto number = [&](int32_t Code) {
    ReadNextSpecifiedToken(kNumber, Code, kIntegerExpected);
    int32_t value = 0;
    if (Token.TokenType == tktParameter) return Token.ParamValue->AsInteger();
    const std::string text = rtl::Utf16ToWin1252(Token.Text);
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) RaiseAtToken(Code, kIntegerExpected);
    return value;
  };
  TopRowCount = number(30158);
  ReadNextToken();
  if (Token.TokenType == tktComma) {
    FirstRowNo = number(30159);
    ReadNextToken();
  }
}

void TVEXSQLSelect::ParseSelectList() {
  if (Token.TokenType == tktString && Token.Text == u"*") {
    AllFields = true;
    ReadNextToken();
    return;
  }
  ParseSelectListItem();
  while (Token.TokenType == tktComma) {
    ReadNextToken();
    ParseSelectListItem();
  }
}

void TVEXSQLSelect::ParseSelectListItem() {
  auto expr = std::make_unique<TVEXExpression>();
  expr->SetInMemory(QueryInMemory(LQuery));
  expr->ParseForValueExpression(LQuery, *LLex);
  ReadCurrentToken();
  if (expr->RootNode() == nullptr)
    RaiseAtToken(30160, "Expression expected, but '%s' found at line %d, column %d");

  std::string alias;
  if (IsReservedWordToken(Token, rwAS)) {
    ReadNextSpecifiedToken({tktString, tktQuotedString, tktBracketedString}, 30162,
                           "Field pseudonym expected, but '%s' found at line %d, column %d");
    alias = rtl::Utf16ToWin1252(Token.Text);
    ReadNextToken();
  } else if (Token.TokenType == tktString || Token.TokenType == tktQuotedString ||
             Token.TokenType == tktBracketedString) {
    alias = rtl::Utf16ToWin1252(Token.Text);
    ReadNextToken();
  }

  TVEXSelectListItem item;
  item.IsExpression = !expr->IsField();
  if (!item.IsExpression) {
    std::string table, column;
    expr->GetFieldInfo(table, column);
    if (column != "*" && IsColumnSelected(table, column)) {
      // The same column again: selected once more under a name of its own.
      item.IsExpression = true;
      item.IsDuplicatedField = true;
      if (alias.empty()) alias = MakeUniquePseudonym(table, column);
    } else {
      item.TableName = table;
      item.FieldName = column;
      item.AllFields = column == "*";
      expr.reset();
    }
  }
  item.Pseudonym = alias;
  item.ValueExpr = expr.release();
  SelectList.push_back(item);
}

void TVEXSQLSelect::ParseIntoClause() {
  if (!IsReservedWordToken(Token, rwINTO)) return;
  ReadNextSpecifiedToken(kTableNameTokens, 30165, kTableNameExpected);
  if (IsReservedWordToken(Token, rwMEMORY)) {
    IntoMemory = true;
    ReadNextSpecifiedToken(kTableNameTokens, 30165, kTableNameExpected);
    if (IsReservedWordToken(Token, rwIMMEDIATE)) {
      IntoImmediate = true;
      ReadNextSpecifiedToken(kTableNameTokens, 30165, kTableNameExpected);
    }
  }
  IntoTable = NameOfToken(Token);
  ReadNextToken();
  if (Token.TokenType == tktDot) {
    IntoDatabase = IntoTable;
    ReadNextSpecifiedToken(kAliasTokens, 30166, kTableNameExpected);
    IntoTable = NameOfToken(Token);
    ReadNextToken();
  }
}

void TVEXSQLSelect::ParseFromClause() {
  if (!IsReservedWordToken(Token, rwFROM)) RaiseTokenExpected(30184, "FROM");
  int32_t code = 30180;
  for (;;) {
    ReadNextSpecifiedToken(kFromItemStart, code, kTableNameExpected);
    auto reference = std::make_unique<TVEXTableReference>();
    if (!ParseFromItem(*reference)) RaiseAtToken(code, kTableNameExpected);
    FromTables.push_back(std::move(reference));
    if (Token.TokenType != tktComma) return;
    code = 30181;
  }
}

bool TVEXSQLSelect::ParseFromItem(TVEXTableReference& Reference) {
  if (IsReservedWordToken(Token, rwSELECT)) {
    Reference.MakeSubQuery(*LLex, LQuery);
    ReadCurrentToken();
  } else if (kTableNameTokens.Contains(Token.TokenType)) {
    bool inMemory = QueryInMemory(LQuery);
    if (IsReservedWordToken(Token, rwMEMORY)) {
      inMemory = true;
      ReadNextSpecifiedToken(kTableNameTokens, 30180, kTableNameExpected);
    }
    std::string database, table = NameOfToken(Token), alias, password;
    if (Token.TokenType == tktParameter) SplitQuotedTableName(table, database, table);
    if (ReadNextToken()) {
      if (Token.TokenType == tktDot) {
        database = table;
        ReadNextSpecifiedToken(kTableNameTokens, 30180, kTableNameExpected);
        table = NameOfToken(Token);
        ReadNextToken();
      }
      CheckPseudonym(alias);
      if (IsReservedWordToken(Token, rwPASSWORD)) {
        ReadNextSpecifiedToken(kPasswordTokens, 30178,
                               "Quoted password expected (for PASSWORD \"passwordData\"), but "
                               "'%s' found at line %d, column %d");
        password = NameOfToken(Token);
        ReadNextToken();
      }
    }
    Reference.TableType = attTable;
    Reference.DatabaseName = database;
    Reference.TableName = table;
    Reference.Pseudonym = alias;
    Reference.Password = password;
    Reference.InMemory = inMemory;
  } else if (Token.TokenType == tktLeftParenthesis) {
    ReadNextToken();
    if (!ParseFromItem(Reference))
      RaiseAtToken(30179, "Field name expected, but '%s' found at line %d, column %d");
    if (Token.TokenType == tktRightParenthesis) ReadNextToken();
    std::string alias;
    if (CheckPseudonym(alias)) Reference.Pseudonym = alias;
  } else {
    return false;
  }
  ParseJoins(Reference);
  return true;
}

void TVEXSQLSelect::ParseJoins(TVEXTableReference& Reference) {
  const auto isJoinWord = [this] {
    for (TReservedWord w : {rwCROSS, rwNATURAL, rwINNER, rwLEFT, rwRIGHT, rwFULL, rwJOIN})
      if (IsReservedWordToken(Token, w)) return true;
    return false;
  };
  while (isJoinWord()) {
    bool natural = false;
    TVEXJoinType type = ajtInner;
    if (IsReservedWordToken(Token, rwCROSS)) {
      type = ajtCross;
      ReadNextSpecifiedToken(kReservedWordOnly, 30168, kUnexpectedToken);
    } else {
      if (IsReservedWordToken(Token, rwNATURAL)) {
        natural = true;
        ReadNextSpecifiedToken(kReservedWordOnly, 30169, kUnexpectedToken);
      }
      bool outerAllowed = natural;
      if (IsReservedWordToken(Token, rwINNER)) {
        ReadNextSpecifiedToken(kReservedWordOnly, 30170, kUnexpectedToken);
      } else {
        struct Side {
          TReservedWord Word;
          TVEXJoinType Type;
          int32_t Code;
        };
        for (const Side& side : {Side{rwLEFT, ajtLeftOuter, 30171},
                                 Side{rwRIGHT, ajtRightOuter, 30172},
                                 Side{rwFULL, ajtFullOuter, 30173}}) {
          if (!IsReservedWordToken(Token, side.Word)) continue;
          type = side.Type;
          outerAllowed = true;
          ReadNextSpecifiedToken(kReservedWordOnly, side.Code, kUnexpectedToken);
          break;
        }
      }
      if (outerAllowed && IsReservedWordToken(Token, rwOUTER))
        ReadNextSpecifiedToken(kReservedWordOnly, 30174, kUnexpectedToken);
    }
    if (!IsReservedWordToken(Token, rwJOIN)) RaiseTokenExpected(30175, "JOIN");
    ReadNextToken();

    auto right = std::make_unique<TVEXTableReference>();
    if (!ParseFromItem(*right)) RaiseAtToken(30176, kTableNameExpected);

    std::vector<std::string> usingFields;
    std::unique_ptr<TVEXExpression> on;
    if (IsReservedWordToken(Token, rwON)) {
      ReadNextToken();
      on = ParseCondition(false);
    } else if (IsReservedWordToken(Token, rwUSING)) {
      ReadNextToken();
      if (Token.TokenType != tktLeftParenthesis) RaiseTokenExpected(30167, "(");
      ReadNextToken();
      ParseFieldNameList(usingFields);
      if (Token.TokenType == tktRightParenthesis) ReadNextToken();
    }
    Reference.MakeJoin(std::move(right), type, natural, std::move(usingFields), std::move(on));
  }
}

std::unique_ptr<TVEXExpression> TVEXSQLSelect::ParseCondition(bool InMemory) {
  auto condition = std::make_unique<TVEXExpression>();
  if (InMemory) condition->SetInMemory(true);
  condition->ParseForBooleanExpression(LQuery, *LLex);
  if (!AllFields) condition->ReplacePseudonyms(SelectList);
  ReadCurrentToken();
  return condition;
}

void TVEXSQLSelect::ParseWhereClause() {
  if (!IsReservedWordToken(Token, rwWHERE)) return;
  ReadNextToken();
  SearchCondition = ParseCondition(QueryInMemory(LQuery));
}

void TVEXSQLSelect::ParseGroupByClause() {
  if (!IsReservedWordToken(Token, rwGROUP)) return;
  ReadNextToken();
  if (!IsReservedWordToken(Token, rwBY)) RaiseTokenExpected(30185, "BY");
  ReadNextToken();
  ParseFieldReferenceList(GroupByFields);
}

void TVEXSQLSelect::ParseHavingClause() {
  if (!IsReservedWordToken(Token, rwHAVING)) return;
  ReadNextToken();
  HavingCondition = ParseCondition(false);
}

// ------------------------------------------------------------- select list

bool TVEXSQLSelect::IsColumnSelected(const std::string& TableName,
                                     const std::string& FieldName) const {
  for (const TVEXSelectListItem& item : SelectList)
    if (!item.IsExpression && !item.AllFields && SameText(item.TableName, TableName) &&
        SameText(item.FieldName, FieldName))
      return true;
  return false;
}

bool TVEXSQLSelect::IsNameUsed(const std::string& TableName, const std::string& Name) const {
  for (const TVEXSelectListItem& item : SelectList)
    if (SameText(item.TableName, TableName) &&
        (SameText(item.FieldName, Name) || SameText(item.Pseudonym, Name)))
      return true;
  return false;
}

std::string TVEXSQLSelect::MakeUniquePseudonym(const std::string& TableName,
                                               const std::string& FieldName) const {
  for (int32_t n = 1;; ++n) {
    std::string name = FieldName + "_" + std::to_string(n);
    if (!IsNameUsed(TableName, name)) return name;
  }
}

bool TVEXSQLSelect::AllConditionsApplied() {
  return !FSubqueryHasNotAppliedConditions &&
         (SearchCondition == nullptr || SearchCondition->IsEmpty()) &&
         (HavingCondition == nullptr || HavingCondition->IsEmpty());
}

}  // namespace vex
