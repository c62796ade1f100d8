// INSERT (see VEXSQLInsert.h).
#include "sql/dml/VEXSQLInsert.h"

#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "components/VEXDatabase.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "db/Fields.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXStream.h"
#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "sql/dml/VEXDMLCommand.h"
#include "sql/expression/VEXExpression.h"
#include "sql/statements/VEXSQLSelect.h"
#include "storage/VEXCursor.h"

namespace vex {

namespace {

constexpr std::string_view kUnexpectedEnd =
    "Unexpected end of SQL command found at line %d, column %d";
constexpr std::string_view kTableNameExpected =
    "Table name expected, but '%s' found at line %d, column %d";
constexpr std::string_view kCloseOrComma =
    "')' or ',' symbol expected, but '%s' found at line %d, column %d";
constexpr TTokenTypes kColumnTokens{tktString, tktQuotedString, tktBracketedString,
                                    tktReservedWord};

template <class F>
void Quietly(F&& Action) noexcept {
  try {
    Action();
  } catch (...) {
  }
}

}  // namespace

TVEXSQLInsert::TVEXSQLInsert(TVEXLexer& Lexer, db::TDataSet* Query)
    : TVEXSQLCommand(Lexer, Query) {}

TVEXSQLInsert::~TVEXSQLInsert() = default;

// ---------------------------------------------------------------- grammar

void TVEXSQLInsert::Parse() {
  if (!ReadCurrentToken()) throw EVEXException(30204, "Blank SQL command");
  if (!ReadNextToken()) throw EVEXException(30205, kUnexpectedEnd, Token.LineNum, Token.ColumnNum);
  if (!IsReservedWordToken(Token, rwINTO))
    throw EVEXException(30206, "Token '%s' expected, but '%s' found at line %d, column %d", "INTO",
                        Token.Text, Token.LineNum, Token.ColumnNum);

  if (!ReadNextToken() || !kTableNameTokens.Contains(Token.TokenType))
    RaiseAtToken(30207, kTableNameExpected);
  if (IsReservedWordToken(Token, rwMEMORY)) {
    IntoMemory = true;
    if (!ReadNextToken() || !kTableNameTokens.Contains(Token.TokenType))
      RaiseAtToken(30208, kTableNameExpected);
  }
  TableName = NameOfToken(Token);
  if (!ReadNextToken())
    throw EVEXException(30209, kUnexpectedEnd, Token.LineNum, Token.ColumnNum);

  if (Token.TokenType == tktDot) {
    DatabaseFileName = TableName;
    if (!ReadNextToken() || !kAliasTokens.Contains(Token.TokenType))
      RaiseAtToken(30493, kTableNameExpected);
    TableName = NameOfToken(Token);
    ReadNextToken();
  }

  if (IsReservedWordToken(Token, rwPASSWORD)) {
    if (!ReadNextToken() || !kPasswordTokens.Contains(Token.TokenType))
      RaiseAtToken(
          30210,
          "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, "
          "column %d");
    Password = NameOfToken(Token);
    if (!ReadNextToken())
      throw EVEXException(30211, kUnexpectedEnd, Token.LineNum, Token.ColumnNum);
  }

  if (Token.TokenType == tktLeftParenthesis) {
    TToken next;
    LLex->LookNextToken(next);
    if (IsReservedWordToken(next, rwSELECT)) {
      ReadNextToken();
      ParseSelect();
      if (Token.TokenType != tktRightParenthesis)
        throw EVEXException(20256, "Missing symbol ')' at line %d, column %d", Token.LineNum,
                            Token.ColumnNum);
      ReadNextToken();
    } else {
      ParseColumnList();
    }
  }

  if (InternalSelecter == nullptr) {
    if (IsReservedWordToken(Token, rwVALUES)) {
      ParseValues();
    } else {
      // A SELECT, possibly in parentheses. The end of the command is no
      // statement: an INSERT that names no rows would report success having
      // done nothing.
      const bool known = Token.TokenType == tktLeftParenthesis ||
                         Token.TokenType == tktRightParenthesis ||
                         IsReservedWordToken(Token, rwSELECT);
      if (!known) throw EVEXException(30213, kUnexpectedEnd, Token.LineNum, Token.ColumnNum);
      if (Token.TokenType == tktLeftParenthesis) ReadNextToken();
      if (IsReservedWordToken(Token, rwSELECT)) {
        ParseSelect();
        if (Token.TokenType == tktRightParenthesis) ReadNextToken();
      }
      if (InternalSelecter == nullptr)
        throw EVEXException(30213, kUnexpectedEnd, Token.LineNum, Token.ColumnNum);
    }
  }

  // What is left would otherwise be dropped without a word.
  if (ReadCurrentToken())
    RaiseAtToken(30521, "End of SQL command expected, but '%s' found at line %d, column %d");
}

void TVEXSQLInsert::ParseColumnList() {
  do {
    if (!ReadNextToken() || !kColumnTokens.Contains(Token.TokenType))
      RaiseAtToken(2156, "Field name expected, but '%s' found at line %d, column %d");
    FieldNames.Add(NameOfToken(Token));
    ReadNextToken();
    if (Token.TokenType != tktComma && Token.TokenType != tktRightParenthesis)
      RaiseAtToken(30212, kCloseOrComma);
  } while (Token.TokenType != tktRightParenthesis);
  if (!ReadNextToken()) throw EVEXException(30213, kUnexpectedEnd, Token.LineNum, Token.ColumnNum);
}

void TVEXSQLInsert::ParseValues() {
  constexpr std::string_view kOpenExpected =
      "'(' symbol expected, but '%s' found at line %d, column %d";
  ReadNextToken();
  if (Token.TokenType != tktLeftParenthesis) RaiseAtToken(30214, kOpenExpected);
  for (;;) {
    const TToken rowStart = Token;
    std::vector<std::unique_ptr<TVEXExpression>> row;
    do {
      if (!ReadNextToken()) throw EVEXException(30203, kUnexpectedEnd, Token.LineNum, Token.ColumnNum);
      auto value = std::make_unique<TVEXExpression>();
      value->ParseForValueExpression(LQuery, *LLex);
      if (value->IsEmpty())
        throw EVEXException(30357, "Error parsing parameter '%s' at line %d, column %d",
                            Token.Text, Token.LineNum, Token.ColumnNum);
      row.push_back(std::move(value));
      // Values are separated by commas: anything else in between would be
      // skipped, and the value after it stored in the wrong column.
      if (!ReadCurrentToken()) throw EVEXException(30203, kUnexpectedEnd, Token.LineNum, Token.ColumnNum);
      if (Token.TokenType != tktComma && Token.TokenType != tktRightParenthesis)
        RaiseAtToken(30520, kCloseOrComma);
    } while (Token.TokenType != tktRightParenthesis);
    // Every row is checked against the column list, not only the first: a
    // later row with another count would be written by position.
    if (FieldNames.Count() > 0 && static_cast<int32_t>(row.size()) != FieldNames.Count())
      throw EVEXException(
          20259,
          "Number of field names does not equal the number of field values: %d <> %d. Found at "
          "line %d, column %d",
          FieldNames.Count(), static_cast<int32_t>(row.size()), rowStart.LineNum,
          rowStart.ColumnNum);
    FieldValues.push_back(std::move(row));
    ReadNextToken();
    if (Token.TokenType != tktComma) return;
    ReadNextToken();
    if (Token.TokenType != tktLeftParenthesis) RaiseAtToken(30214, kOpenExpected);
  }
}

void TVEXSQLInsert::ParseSelect() {
  InternalSelecter = std::make_unique<TVEXSQLSelect>(*LLex, LQuery);
  InternalSelecter->Parse();
  ReadCurrentToken();
}

// ---------------------------------------------------------------- running

db::TField* TVEXSQLInsert::TargetField(TVEXTable& Table, int32_t Index) const {
  if (FieldNames.Count() > 0) return Table.FieldByName(FieldNames.Strings(Index));
  if (Index < 0 || Index >= Table.Fields().Count())
    throw rtl::EListError(rtl::Format("List index out of bounds (%d)", Index));
  return Table.Fields()[Index];
}

void TVEXSQLInsert::ExecSQL(db::TDataSet* Query, bool IsRoot, bool /*RequestLive*/,
                            bool& ReadOnly, TVEXAO* /*ParentQueryAO*/,
                            TVEXCursor* /*ParentCursor*/) {
  RowsAffected = 0;
  std::unique_ptr<TVEXDatabase> database;
  std::unique_ptr<TVEXTable> table;
  CreateTargetTable(Query, DatabaseFileName, database, table, IntoMemory, Password, TableName);
  ScopeExit free([&] { FreeTargetTable(table, database); });
  table->Open();
  if (InternalSelecter == nullptr)
    InsertValues(*table);
  else
    InsertSelected(Query, IsRoot, ReadOnly, *table);
  table->Close();
}

void TVEXSQLInsert::InsertValues(TVEXTable& Table) {
  for (const auto& row : FieldValues) {
    Table.Insert();
    try {
      for (size_t j = 0; j < row.size(); ++j) {
        db::TField* field = TargetField(Table, static_cast<int32_t>(j));
        TVEXVariant* value = row[j]->GetValue(true);
        if (value == nullptr)
          throw EVEXException(
              30356, "Parameter Value undefined (FieldName='%s', Type='%s')", field->FieldName(),
              AdvancedFieldTypeToSQLName(FieldTypeToAdvancedFieldType(field->DataType())));
        AssignVariantToField(value, field);
      }
      Table.Post();
    } catch (...) {
      Quietly([&] { Table.Cancel(); });
      throw;
    }
    ++RowsAffected;
  }
}

void TVEXSQLInsert::InsertSelected(db::TDataSet* Query, bool IsRoot, bool& ReadOnly,
                                   TVEXTable& Table) {
  InternalSelecter->ExecSQL(Query, IsRoot, false, ReadOnly, nullptr, nullptr);
  auto* result = dynamic_cast<TVEXDataSet*>(InternalSelecter->GetResultDataset());
  if (result == nullptr) RaiseNilPointer(30523);

  // The rows are copied first, so that a table inserted into itself grows by
  // exactly the rows it had.
  TVEXQuery& query = QueryComponent(Query);
  TVEXTable rows(nullptr);
  rows.SetSessionName(query.SessionName());
  rows.SetTemporary(true);
  rows.SetDisableTempFiles(query.InMemory() ||
                           (query.Database() != nullptr && query.Database()->DisableTempFiles()));
  rows.SetTableName(MakeUniqueName("TmpTableForInsert"));
  ScopeExit dropRows([&] {
    Quietly([&] { rows.Close(); });
    Quietly([&] { rows.DeleteTable(); });
  });
  // The result's indexes order the SELECT's rows; the copy needs none.
  result->AdvIndexDefs().Clear();
  result->IndexDefs().Clear();
  std::string log;
  if (!rows.ImportTable(*result, log, nullptr)) throw EVEXException(30522, "%s", log);
  rows.Open();
  rows.First();

  TVEXCursor* cursor = Table.Handle();
  if (cursor == nullptr) RaiseNilPointer(30523);
  if (cursor->InTransaction()) {
    CopyRows(rows, Table);
    return;
  }
  TVEXWriteLocks locks(*cursor);
  if (!locks.LockInOneCall()) throw EVEXException(20224, "Table is locked");
  TVEXBatchUpdate batch(*cursor);
  CopyRows(rows, Table);
  batch.Commit();
  locks.Unlock();
}

void TVEXSQLInsert::CopyRows(TVEXTable& Source, TVEXTable& Table) {
  while (!Source.Eof()) {
    Table.Insert();
    try {
      for (int32_t i = 0; i < Source.Fields().Count(); ++i)
        CopyFieldValue(Source.Fields()[i], TargetField(Table, i));
      Table.Post();
    } catch (...) {
      Quietly([&] { Table.Cancel(); });
      throw;
    }
    ++RowsAffected;
    Source.Next();
  }
}

}  // namespace vex
