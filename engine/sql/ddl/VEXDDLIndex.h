// The index statements: CREATE [UNIQUE] INDEX and DROP INDEX.
//
// Both work through the table component of CreateTargetTable on the named
// table (for db.t, through a database component of its own on the file db,
// opened silently with the statement's password), opened for the change and
// freed on every way out. Their failures pass on unwrapped.
//
// Threads: a statement is used by one thread at a time.
#pragma once

#include <string>
#include <vector>

#include "sql/ddl/VEXDDLCommand.h"
#include "sql/ddl/VEXDDLDefs.h"

namespace vex {

class TVEXDDLCreateIndex : public TVEXDDLCommand {
 public:
  using TVEXDDLCommand::TVEXDDLCommand;
  void Parse() override;
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;

  bool Unique = false;
  std::string IndexName;
  std::string DatabaseFileName;
  std::string TableName;
  std::string TableAlias;
  std::string Password;
  bool InMemory = false;
  std::vector<TVEXIndexField> VEXIndexFields;
};

class TVEXDDLDropIndex : public TVEXDDLCommand {
 public:
  using TVEXDDLCommand::TVEXDDLCommand;
  void Parse() override;
  void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
               TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;

  std::string IndexName;
  std::string DatabaseFileName;
  std::string TableName;
  std::string TableAlias;
  std::string Password;
  bool InMemory = false;
};

}  // namespace vex
