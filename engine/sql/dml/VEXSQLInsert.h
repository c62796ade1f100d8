// INSERT: rows written into a table through a table component.
//
//   INSERT INTO [MEMORY] [database .] table [PASSWORD 'pw'] [(column, ...)]
//     { VALUES (value, ...) [, (value, ...) ...] | SELECT ... | (SELECT ...) }
//
// VALUES rows go one by one through the component's Insert and Post, each
// under the component's own record locking; a failure keeps the rows posted
// before it. The rows of a SELECT are first copied into a temporary table (so
// a table may be inserted into itself) and then written, outside a
// transaction under the table's write locks and in one batch update (see
// VEXDMLCommand.h). Values go to the listed columns in order, or to the
// table's fields by position without a list.
//
// Threads: used by the thread running its statement.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rtl/Lists.h"
#include "sql/VEXSQLProcessor.h"

namespace db {
class TField;
}

namespace vex {

class TVEXExpression;
class TVEXSQLSelect;
class TVEXTable;

class TVEXSQLInsert final : public TVEXSQLCommand {
 public:
  TVEXSQLInsert(TVEXLexer& Lexer, db::TDataSet* Query);
  ~TVEXSQLInsert() override;

  // From the current token (the word INSERT). Raises EVEXException:
  //   30204 "Blank SQL command" without a token;
  //   30205 / 30209 / 30211 "Unexpected end of SQL command found at line %d,
  //     column %d" when the command ends after INSERT, the table name and the
  //     password;
  //   30206 "Token '%s' expected, but '%s' found at line %d, column %d"
  //     without INTO;
  //   30207 / 30208 / 30493 "Table name expected, but '%s' found at line %d,
  //     column %d" for the table name, after MEMORY and after the dot;
  //   30210 "Quoted password expected (for PASSWORD \"passwordData\"), but
  //     '%s' found at line %d, column %d";
  //   2156 "Field name expected, but '%s' found at line %d, column %d" and
  //     30212 "')' or ',' symbol expected, but '%s' found ..." in the column
  //     list;
  //   30213 "Unexpected end of SQL command found at line %d, column %d" when
  //     neither VALUES nor a SELECT follows (also at the end of the command);
  //   30214 "'(' symbol expected, but '%s' found at line %d, column %d" for a
  //     VALUES row that does not start with "(";
  //   30203 "Unexpected end of SQL command ..." inside a row;
  //   30357 "Error parsing parameter '%s' at line %d, column %d" for an item
  //     that is no value;
  //   30520 "')' or ',' symbol expected, but '%s' found ..." after a value;
  //   20259 "Number of field names does not equal the number of field values:
  //     %d <> %d. Found at line %d, column %d" for every row whose count
  //     differs from the column list (at the row's "(");
  //   20256 "Missing symbol ')' at line %d, column %d" for "(SELECT" not
  //     closed;
  //   30521 "End of SQL command expected, but '%s' found at line %d, column
  //     %d" for tokens left after the rows or the SELECT;
  // and the errors of the value expressions and the SELECT.
  void Parse() override;
  // Sets RowsAffected to the rows written. Raises 30356 "Parameter Value
  // undefined (FieldName='%s', Type='%s')" for a value that yields nothing,
  // 20224 "Table is locked" when INSERT ... SELECT does not get the write
  // lock, 30522 with the import's log when the SELECT's rows cannot be copied
  // into the temporary table, rtl::EListError for a SELECT with more columns
  // than the column list or the table has, and what the components raise.
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;

  std::string TableName;
  std::string DatabaseFileName;
  std::string Password;
  rtl::TStringList FieldNames;
  std::vector<std::vector<std::unique_ptr<TVEXExpression>>> FieldValues;
  std::unique_ptr<TVEXSQLSelect> InternalSelecter;

 private:
  void ParseColumnList();
  void ParseValues();
  void ParseSelect();
  void InsertValues(TVEXTable& Table);
  void InsertSelected(db::TDataSet* Query, bool IsRoot, bool& ReadOnly, TVEXTable& Table);
  void CopyRows(TVEXTable& Source, TVEXTable& Table);
  // The field that takes value Index of a row: the listed column, or the
  // table's field Index without a list (rtl::EListError outside either).
  db::TField* TargetField(TVEXTable& Table, int32_t Index) const;
};

}  // namespace vex
