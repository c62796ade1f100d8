// The SQL engine's entry point: the statement processor, the statement base
// class and the dispatch from a command's first words to a statement class.
//
// The query component keeps one processor per prepared query. Each execution
// lexes the whole text afresh (so every lexical error and missing parameter
// value surfaces before any statement runs), then builds and runs one
// statement after the other in text order, adding up the rows they affected.
// A statement parses its command when it is built and runs in ExecSQL; a
// failure stops the execution at once, leaves the effects of the statements
// that ran (there is no implicit transaction) and leaves the processor ready
// for the next execution.
//
// The dispatch is a table of rows, one per statement class: the first word,
// for CREATE, DROP and ALTER the object word after it, and the function that
// builds the statement. A word without a row starts no statement (30153).
// Each statement class adds its row to StatementRows() when it lands.
//
// A processor is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sql/VEXLexer.h"

namespace db {
class TDataSet;
}

namespace vex {

class TVEXCursor;
class TVEXAO;

// One SQL statement. Built at the first token of its command (for CREATE,
// DROP, ALTER and RENAME at the token after the first word), it parses the
// rest of the command in Parse and runs in ExecSQL.
class TVEXSQLCommand {
 public:
  TVEXSQLCommand(TVEXLexer& Lexer, db::TDataSet* Query) : LLex(&Lexer), LQuery(Query) {}
  virtual ~TVEXSQLCommand() = default;
  TVEXSQLCommand(const TVEXSQLCommand&) = delete;
  TVEXSQLCommand& operator=(const TVEXSQLCommand&) = delete;

  // Parses the command from the lexer's current token; raises the statement's
  // parse errors. A query expression leaves the first token it did not take
  // current, so that the processor can refuse what is left over.
  virtual void Parse() = 0;
  // Runs the statement. ReadOnly tells the query component afterwards whether
  // the result may be edited; ParentQueryAO and ParentCursor belong to an
  // enclosing query (null at the top).
  virtual void ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive, bool& ReadOnly,
                       TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) = 0;
  // The result of a query expression; null for every other statement. Owned
  // by the statement.
  virtual TVEXCursor* GetResultCursor() { return nullptr; }
  virtual db::TDataSet* GetResultDataset() { return nullptr; }

  TVEXLexer* LLex;
  TToken Token;
  db::TDataSet* LQuery;
  // Rows inserted, updated or deleted by the last ExecSQL.
  int32_t RowsAffected = 0;
  // The statement's table was named with MEMORY.
  bool IntoMemory = false;
};

// Builds a statement of class T over the lexer's current command and parses
// it; what a dispatch row points at.
template <class T>
std::unique_ptr<TVEXSQLCommand> NewSQLStatement(TVEXLexer& Lexer, db::TDataSet* Query) {
  std::unique_ptr<TVEXSQLCommand> statement = std::make_unique<T>(Lexer, Query);
  statement->Parse();
  return statement;
}

// One row of the statement dispatch.
struct TVEXStatementRow {
  // The first word of the command. A command that starts with "(" takes the
  // row of SELECT: both are query expressions.
  TReservedWord FirstWord;
  // For CREATE, DROP and ALTER the word that must follow; rwNone where the
  // first word alone decides (RENAME takes any token after it).
  TReservedWord NextWord;
  std::unique_ptr<TVEXSQLCommand> (*Create)(TVEXLexer& Lexer, db::TDataSet* Query);
};

// The rows of the statements the engine has.
std::span<const TVEXStatementRow> StatementRows();

class TVEXSQLProcessor {
 public:
  // Rows is the dispatch table; tests give their own.
  explicit TVEXSQLProcessor(db::TDataSet* Query,
                            std::span<const TVEXStatementRow> Rows = StatementRows());
  virtual ~TVEXSQLProcessor();
  TVEXSQLProcessor(const TVEXSQLProcessor&) = delete;
  TVEXSQLProcessor& operator=(const TVEXSQLProcessor&) = delete;

  // Keeps the text for the next execution; nothing is parsed here.
  void PrepareStatement(std::u16string_view SQLText) { FSqlText = SQLText; }

  // Runs the whole text and gives the result cursor of the last statement, or
  // null when the last statement has none. The cursor stays owned by that
  // statement until the next execution or the processor's end. Raises the
  // lexer's errors, the dispatch errors of ParseNextCommand, the statements'
  // own errors, and rtl::EIntOverflow when the rows affected pass the 64-bit
  // range. RowsAffected then holds the sum over the statements that completed.
  TVEXCursor* OpenQuery();
  void ExecuteQuery() { OpenQuery(); }

  // Builds the statement of the lexer's next command; false when there is
  // none left (the current statement is then kept). Raises EVEXException:
  //   30145 "Blank SQL command" when the lexer holds no command
  //   30146 "Blank SQL command" when the command has no token
  //   30147 / 30149 / 30151 "Object type keyword expected, but '%s' found at
  //         line %d, column %d" after CREATE / DROP / ALTER
  //   30148 / 30150 / 30152 / 30353 "Unexpected end of SQL command found at
  //         line %d, column %d" for CREATE / DROP / ALTER / RENAME alone (the
  //         position of that word)
  //   30153 "SQL token expected, but '%s' found at line %d, column %d" for a
  //         reserved word that starts no statement
  //   30154 (same text) for any other first token but "("
  //   20260 "End of SQL command expected, but '%s' found at line %d, column
  //         %d" for a token left after a query expression
  // and whatever the statement's parser raises.
  bool ParseNextCommand(TVEXLexer& Lex);

  bool ReadOnly() const { return FReadOnly; }
  bool RequestLive() const { return FRequestLive; }
  void SetRequestLive(bool Value) { FRequestLive = Value; }
  bool InMemory() const { return FInMemory; }
  void SetInMemory(bool Value) { FInMemory = Value; }
  int64_t RowsAffected() const { return FRowsAffected; }
  TVEXSQLParams& SQLParams() { return FSQLParams; }
  const std::u16string& SqlText() const { return FSqlText; }
  // The statement that ran last; null before the first execution.
  TVEXSQLCommand* CurrentStatement() const {
    return Queries.empty() ? nullptr : Queries.back().get();
  }

  db::TDataSet* VEXQuery;

 private:
  const TVEXStatementRow* FindRow(TReservedWord FirstWord, TReservedWord NextWord) const;

  std::span<const TVEXStatementRow> FRows;
  bool FReadOnly = false;
  bool FRequestLive = false;
  bool FInMemory = false;
  int64_t FRowsAffected = 0;
  std::unique_ptr<TVEXLexer> FLex;
  std::u16string FSqlText;
  TVEXSQLParams FSQLParams;
  // The current statement (at most one); it owns its result.
  std::vector<std::unique_ptr<TVEXSQLCommand>> Queries;
};

// The processor the query component creates.
class TVEXLocalSQLProcessor : public TVEXSQLProcessor {
 public:
  using TVEXSQLProcessor::TVEXSQLProcessor;
};

}  // namespace vex
