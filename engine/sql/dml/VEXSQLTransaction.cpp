// The transaction statements (see VEXSQLTransaction.h).
#include "sql/dml/VEXSQLTransaction.h"

#include <string_view>

#include "components/VEXDatabase.h"
#include "components/VEXQuery.h"
#include "components/VEXSession.h"
#include "foundation/VEXExcept.h"

namespace vex {

namespace {

constexpr std::string_view kTokenExpected =
    "Token '%s' expected, but '%s' found at line %d, column %d";

}  // namespace

TVEXDatabase& QueryDatabase(db::TDataSet* Query) {
  TVEXQuery& query = QueryComponent(Query);
  TVEXDatabase* database = query.Database();
  if (database == nullptr) database = query.DBSession().FindDatabase(query.DatabaseName());
  if (database == nullptr) RaiseNilPointer(30524);
  return *database;
}

void TVEXSQLStartTransaction::Parse() {
  if (!ReadCurrentToken()) throw EVEXException(30457, "Blank SQL command");
  if (!IsReservedWordToken(Token, rwSTART))
    throw EVEXException(30458, kTokenExpected, "START", Token.Text, Token.LineNum,
                        Token.ColumnNum);
  if (!ReadNextToken())
    throw EVEXException(30459, "Unexpected end of SQL command found at line %d, column %d",
                        Token.LineNum, Token.ColumnNum);
  if (!IsReservedWordToken(Token, rwTRANSACTION))
    throw EVEXException(30460, kTokenExpected, "TRANSACTION", Token.Text, Token.LineNum,
                        Token.ColumnNum);
}

void TVEXSQLStartTransaction::ExecSQL(db::TDataSet* Query, bool, bool, bool&, TVEXAO*,
                                      TVEXCursor*) {
  QueryDatabase(Query).StartTransaction();
}

void TVEXSQLCommit::Parse() {
  FFlush = false;
  if (!ReadCurrentToken()) throw EVEXException(30461, "Blank SQL command");
  if (!IsReservedWordToken(Token, rwCOMMIT))
    throw EVEXException(30462, kTokenExpected, "COMMIT", Token.Text, Token.LineNum,
                        Token.ColumnNum);
  while (ReadNextToken())
    if (IsReservedWordToken(Token, rwFLUSH)) FFlush = true;
}

void TVEXSQLCommit::ExecSQL(db::TDataSet* Query, bool, bool, bool&, TVEXAO*, TVEXCursor*) {
  QueryDatabase(Query).Commit(FFlush);
}

void TVEXSQLRollback::Parse() {
  if (!ReadCurrentToken()) throw EVEXException(30463, "Blank SQL command");
  if (!IsReservedWordToken(Token, rwROLLBACK))
    throw EVEXException(30464, kTokenExpected, "ROLLBACK", Token.Text, Token.LineNum,
                        Token.ColumnNum);
}

void TVEXSQLRollback::ExecSQL(db::TDataSet* Query, bool, bool, bool&, TVEXAO*, TVEXCursor*) {
  QueryDatabase(Query).Rollback();
}

}  // namespace vex
