// UPDATE: rows found by an internal SELECT and changed through a second
// table component.
//
//   UPDATE [MEMORY] [file.]t [[AS] alias] [PASSWORD 'pw']
//     SET { col = value [, col = value ...] | (col, ...) = (SELECT ...) }
//     [WHERE condition]
//
// A column may be qualified by the table's name (not by its alias). The
// statement builds "SELECT * FROM <the table> [WHERE ...]" in a lexer of its
// own (the generated tokens carry the position of the table name, so errors
// point into the statement; the WHERE tokens and their parameter values move
// there) and runs it live: the source is the base table restricted to the
// condition. The rows it finds are noted first and then edited one by one
// through a second table component, to which the SET values are bound, so
// they read the row being updated; every value of a row is read before any of
// them is stored, and a row that the update moves within the view is not met
// again.
//
// Outside a transaction the statement holds the write locks and updates in
// one batch (VEXDMLCommand.h). When a row's record or table lock cannot be had
// in time on a disk table, the cancelled batch has undone the attempt and it
// is tried again, up to kUpdateAttempts times 100 ms apart; any other failure,
// and every failure on a memory or temporary table (whose changes no cancel
// undoes), passes on at once.
//
// Threads: used by the thread running its statement.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/DBCommon.h"
#include "rtl/Lists.h"
#include "sql/VEXSQLProcessor.h"

namespace vex {

class TVEXExpression;
class TVEXSQLSelect;
class TVEXTable;

class TVEXSQLUpdate final : public TVEXSQLCommand {
 public:
  TVEXSQLUpdate(TVEXLexer& Lexer, db::TDataSet* Query);
  ~TVEXSQLUpdate() override;

  // From the current token (the word UPDATE). Raises EVEXException:
  //   30216 "Blank SQL command" without a token;
  //   30217 "Table name expected, but '%s' found at line %d, column %d";
  //   the table reference's errors (30231, 30238, 30177);
  //   30220 / 30221 / 30222 / 30494 / 30495 "Token '%s' expected, but '%s'
  //     found at line %d, column %d" for "SET", "=", ",", ")" and "=" of the
  //     row form;
  //   30223 "Unexpected end of SQL command found at line %d, column %d" after
  //     a comma or where a column or "=" is needed;
  //   30527 "End of SQL command expected, but '%s' found at line %d, column
  //     %d" for tokens the WHERE leaves;
  // and the errors of the values, the row subquery and the internal SELECT.
  void Parse() override;
  // Sets RowsAffected to the rows updated by the attempt that succeeded.
  // Raises 20223 "Table is locked" when the write lock is not had within the
  // bounded wait, what the SELECT, the expressions and the dataset raise
  // (the platform's error for an unknown column), and 30359 "Value is Null"
  // when the row subquery has fewer columns than the list.
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;

  // Attempts outside a transaction, and the pause before another one.
  static constexpr int32_t kUpdateAttempts = 15;
  static constexpr uint32_t kAttemptPauseMs = 100;

  std::string DatabaseFileName;
  std::string TableName;
  std::string Password;
  rtl::TStringList FieldNames;
  std::vector<std::unique_ptr<TVEXExpression>> FieldValues;
  bool IsFieldValuesSubquery = false;
  std::unique_ptr<TVEXExpression> FieldValuesSubqueryExpr;
  std::unique_ptr<TVEXSQLSelect> InternalSelecter;
  // The attempts the last execution made (1 inside a transaction).
  int32_t Attempts = 0;

 private:
  // A column at the current token, which must exist (30223); a qualifier by
  // the table's name is passed over. The token after it becomes current.
  void ParseColumn();
  void ParseRowSubqueryForm();
  void ParseSetList();
  void BuildInternalSelect(const TToken& At);
  // One pass over the rows noted; RowsAffected counts them.
  void UpdateRows(TVEXTable& Writer, const std::vector<db::TBookmark>& Rows);

  std::unique_ptr<TVEXLexer> FSelectLexer;
  std::string FTablePseudonym;
};

}  // namespace vex
