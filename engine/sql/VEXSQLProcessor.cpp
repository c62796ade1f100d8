#include "sql/VEXSQLProcessor.h"

#include <algorithm>

#include "foundation/VEXExcept.h"
#include "rtl/Exception.h"
#include "sql/ddl/VEXDDLIndex.h"
#include "sql/ddl/VEXDDLTable.h"
#include "sql/dml/VEXSQLDelete.h"
#include "sql/dml/VEXSQLInsert.h"
#include "sql/dml/VEXSQLTransaction.h"
#include "sql/dml/VEXSQLUpdate.h"
#include "sql/statements/VEXSQLUnion.h"

namespace vex {

namespace {

// The first words that name an object type in the token after them, with the
// codes for a missing and for a wrong object word. RENAME takes any token
// (and one more when that is TABLE), so it has no code for a wrong one.
struct TObjectWord {
  TReservedWord Word;
  int32_t EndCode;
  int32_t WrongCode;
};
constexpr TObjectWord kObjectWords[] = {
    {rwCREATE, 30148, 30147},
    {rwDROP, 30150, 30149},
    {rwALTER, 30152, 30151},
    {rwRENAME, 30353, 0},
};

const TObjectWord* FindObjectWord(TReservedWord Word) {
  for (const TObjectWord& o : kObjectWords)
    if (o.Word == Word) return &o;
  return nullptr;
}

[[noreturn]] void RaiseSQLTokenExpected(int32_t Code, const TToken& Token) {
  throw EVEXException(Code, "SQL token expected, but '%s' found at line %d, column %d", Token.Text,
                      Token.LineNum, Token.ColumnNum);
}

}  // namespace

std::span<const TVEXStatementRow> StatementRows() {
  // One row per statement class the engine has; a new class adds its row.
  static const std::vector<TVEXStatementRow> rows = {
      {rwSELECT, rwNone, NewSQLStatement<TVEXSQLUnion>},
      {rwCREATE, rwTABLE, &NewSQLStatement<TVEXDDLCreateTable>},
      {rwCREATE, rwUNIQUE, &NewSQLStatement<TVEXDDLCreateIndex>},
      {rwCREATE, rwINDEX, &NewSQLStatement<TVEXDDLCreateIndex>},
      {rwDROP, rwTABLE, &NewSQLStatement<TVEXDDLDropTable>},
      {rwDROP, rwINDEX, &NewSQLStatement<TVEXDDLDropIndex>},
      {rwALTER, rwTABLE, &NewSQLStatement<TVEXDDLAlterTable>},
      {rwRENAME, rwNone, &NewSQLStatement<TVEXDDLRenameTable>},
      {rwTRUNCATE, rwNone, &NewSQLStatement<TVEXDDLTruncateTable>},
      {rwINSERT, rwNone, &NewSQLStatement<TVEXSQLInsert>},
      {rwUPDATE, rwNone, &NewSQLStatement<TVEXSQLUpdate>},
      {rwDELETE, rwNone, &NewSQLStatement<TVEXSQLDelete>},
      {rwSTART, rwNone, &NewSQLStatement<TVEXSQLStartTransaction>},
      {rwCOMMIT, rwNone, &NewSQLStatement<TVEXSQLCommit>},
      {rwROLLBACK, rwNone, &NewSQLStatement<TVEXSQLRollback>},
  };
  return rows;
}

TVEXSQLProcessor::TVEXSQLProcessor(db::TDataSet* Query, std::span<const TVEXStatementRow> Rows)
    : VEXQuery(Query), FRows(Rows) {}

TVEXSQLProcessor::~TVEXSQLProcessor() {
  // Statements point into the lexer; they go first.
  Queries.clear();
  FLex.reset();
}

const TVEXStatementRow* TVEXSQLProcessor::FindRow(TReservedWord FirstWord,
                                                  TReservedWord NextWord) const {
  auto it = std::find_if(FRows.begin(), FRows.end(), [&](const TVEXStatementRow& r) {
    return r.FirstWord == FirstWord && r.NextWord == NextWord;
  });
  return it == FRows.end() ? nullptr : &*it;
}

TVEXCursor* TVEXSQLProcessor::OpenQuery() {
  FRowsAffected = 0;
  Queries.clear();
  FLex.reset();
  FLex = std::make_unique<TVEXLexer>(FSqlText, &FSQLParams, false);
  while (ParseNextCommand(*FLex)) {
    TVEXSQLCommand& statement = *Queries.back();
    statement.ExecSQL(VEXQuery, true, FRequestLive, FReadOnly, nullptr, nullptr);
    int64_t sum;
    if (__builtin_add_overflow(FRowsAffected, static_cast<int64_t>(statement.RowsAffected), &sum))
      throw rtl::EIntOverflow("Integer overflow");
    FRowsAffected = sum;
  }
  return Queries.empty() ? nullptr : Queries.back()->GetResultCursor();
}

bool TVEXSQLProcessor::ParseNextCommand(TVEXLexer& Lex) {
  if (Lex.NumCommands() == 0) throw EVEXException(30145, "Blank SQL command");
  if (!Lex.GetNextCommand()) return false;
  Queries.clear();

  TToken first;
  if (!Lex.GetCurrentToken(first)) throw EVEXException(30146, "Blank SQL command");

  const TVEXStatementRow* row = nullptr;
  if (first.TokenType == tktLeftParenthesis) {
    row = FindRow(rwSELECT, rwNone);
    if (!row) RaiseSQLTokenExpected(30154, first);
  } else if (first.TokenType != tktReservedWord) {
    RaiseSQLTokenExpected(30154, first);
  } else {
    const TReservedWord word = first.ReservedWord;
    const bool known = std::any_of(FRows.begin(), FRows.end(),
                                   [&](const TVEXStatementRow& r) { return r.FirstWord == word; });
    if (!known) RaiseSQLTokenExpected(30153, first);
    if (const TObjectWord* object = FindObjectWord(word)) {
      TToken next = first;
      if (!Lex.GetNextToken(next))
        throw EVEXException(object->EndCode,
                            "Unexpected end of SQL command found at line %d, column %d",
                            first.LineNum, first.ColumnNum);
      if (object->WrongCode == 0) {
        if (IsReservedWordToken(next, rwTABLE)) Lex.GetNextToken(next);
        row = FindRow(word, rwNone);
      } else {
        if (next.ReservedWord != rwNone) row = FindRow(word, next.ReservedWord);
        if (!row)
          throw EVEXException(object->WrongCode,
                              "Object type keyword expected, but '%s' found at line %d, column %d",
                              next.Text, next.LineNum, next.ColumnNum);
      }
    } else {
      row = FindRow(word, rwNone);
    }
    if (!row) RaiseSQLTokenExpected(30153, first);
  }

  Queries.push_back(row->Create(Lex, VEXQuery));

  if (row->FirstWord == rwSELECT) {
    TToken left;
    if (Lex.GetCurrentToken(left))
      throw EVEXException(20260,
                          "End of SQL command expected, but '%s' found at line %d, column %d",
                          left.Text, left.LineNum, left.ColumnNum);
  }
  return true;
}

}  // namespace vex
