// The table statements: CREATE, DROP, TRUNCATE, ALTER and RENAME TABLE.
//
// Their parsers turn the column and index definitions into TSQLFieldDef and
// TVEXDDLIndex records; their executors hand those to a table component made
// for the statement, which creates, empties, restructures, renames or deletes
// the table. Nothing here touches pages or records.
//
// Design notes
//   1. The table component (and, for a table named db.t, a database component
//      of its own on the file db, opened silently with the statement's
//      password) lives for one ExecSQL and is freed on every way out.
//   2. Execution failures of the component are wrapped once, keeping the
//      inner message with its code: 30248 (CREATE), 30250 (DROP), 30491
//      (TRUNCATE), 30265 (ALTER and RENAME). A structure change inside a
//      transaction is refused by the component and so arrives wrapped.
//   3. A quoted DEFAULT text is kept as a string literal in double quotes with
//      its own double quotes doubled, so that evaluating the default gives the
//      text back whole.
//
// Threads: a statement is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sql/ddl/VEXDDLCommand.h"
#include "sql/ddl/VEXDDLDefs.h"

namespace vex {

class TVEXDatabase;
class TVEXTable;

// The table component of one execution and, for a table of another database
// file, the database component it uses; the table is freed first.
struct TVEXDDLTarget {
  TVEXDDLTarget() = default;
  TVEXDDLTarget(TVEXDDLTarget&&) noexcept;
  TVEXDDLTarget& operator=(TVEXDDLTarget&&) noexcept;
  ~TVEXDDLTarget();

  std::unique_ptr<TVEXDatabase> Database;
  std::unique_ptr<TVEXTable> Table;
};

class TVEXDDLTableManipulation : public TVEXDDLCommand {
 public:
  using TVEXDDLCommand::TVEXDDLCommand;

  // The trailing-token check of CREATE, DROP and TRUNCATE: 30246 "Unexpected
  // token '%s' found at line %d, column %d" for a current token.
  void Parse() override;

  std::string Password;
  // The database file named before the table (db.t), else empty.
  std::string DatabaseName;
  std::string TableName;
  std::string TableAlias;
  TSQLFieldDefs SQLFieldDefs;
  std::vector<TVEXDDLIndex> Indexes;

 protected:
  // The column-definition list "(" ... ")" from the current token, leaving
  // its ")" current.
  void ParseColumnDefinitions();
  // The table component for TableName on the query's database (or on the
  // file DatabaseName), not opened. WithFieldDefs: its advanced field
  // definitions are the statement's columns.
  TVEXDDLTarget PrepareTable(bool WithFieldDefs);
  // The statement's indexes as the table's new index definitions (after the
  // ones it has in RestructureIndexDefs); its platform index definitions are
  // cleared.
  void BuildIndexDefs(TVEXTable& Table);

 private:
  // A table-level PRIMARY KEY, UNIQUE INDEX or INDEX at the current token;
  // false (nothing read) when none starts there.
  bool ParseTableConstraint();
  void ParseIndexColumns(TVEXDDLIndex& Index);
  void ParseColumnType(TSQLFieldDef& Def);
  void ParseAutoincOptions(TSQLFieldDef& Def);
  // One column option at the current token. True when the option read the
  // token after itself.
  bool ParseColumnOption(TSQLFieldDef& Def);
  // True for a value expression, which leaves the token after it current; a
  // clock word or a quoted text stays current.
  bool ParseDefault(TSQLFieldDef& Def);
  // The next token as a 64-bit integer (30292, 30291).
  int64_t ReadIntegerValue();
};

class TVEXDDLCreateTable : public TVEXDDLTableManipulation {
 public:
  using TVEXDDLTableManipulation::TVEXDDLTableManipulation;
  void Parse() override;
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;

  bool FCreateIfNotExists = false;
};

class TVEXDDLDropTable : public TVEXDDLTableManipulation {
 public:
  using TVEXDDLTableManipulation::TVEXDDLTableManipulation;
  void Parse() override;
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;
};

class TVEXDDLTruncateTable : public TVEXDDLTableManipulation {
 public:
  using TVEXDDLTableManipulation::TVEXDDLTableManipulation;
  void Parse() override;
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;
};

enum TAlterType : uint8_t { atAdd, atDrop, atModify, atRenameColumn, atRenameTable };

class TVEXDDLAlterTable : public TVEXDDLTableManipulation {
 public:
  using TVEXDDLTableManipulation::TVEXDDLTableManipulation;
  void Parse() override;
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;

  TAlterType AlterType = atAdd;
  std::vector<std::string> DropColumnNamesList;
  std::vector<std::string> RenameColumnOldNamesList;
  std::vector<std::string> RenameColumnNewNamesList;
  std::string NewTableName;

 protected:
  // The action after the table reference, from the current token.
  void ParseAction();
  // The change itself on a table component whose structure was loaded.
  void AlterStructure(TVEXTable& Table);
};

// RENAME [TABLE] t TO u: the dispatch has read RENAME and TABLE.
class TVEXDDLRenameTable : public TVEXDDLAlterTable {
 public:
  using TVEXDDLAlterTable::TVEXDDLAlterTable;
  void Parse() override;
};

}  // namespace vex
