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
class TVEXDataSet;
class TVEXDatabase;
class TVEXFields;
class TVEXTable;

// The token-type sets the statements read names with.
// A column name.
inline constexpr TTokenTypes kNameTokens{tktString, tktQuotedString, tktBracketedString};
// A table name: a reserved word may name a table.
inline constexpr TTokenTypes kTableNameTokens{tktString, tktQuotedString, tktBracketedString,
                                              tktReservedWord, tktParameter};
// An alias after AS.
inline constexpr TTokenTypes kAliasTokens{tktString, tktQuotedString, tktBracketedString,
                                          tktParameter};
// A password after PASSWORD.
inline constexpr TTokenTypes kPasswordTokens{tktQuotedString, tktParameter};

// One SQL statement. Built at the first token of its command (for CREATE,
// DROP, ALTER and RENAME at the token after the first word), it parses the
// rest of the command in Parse and runs in ExecSQL. The routines below are
// what every statement's parser shares; their errors are EVEXException with
// the offending token's text, line and column.
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

  // ---- token readers
  // Token := the lexer's current token; false at the end of the command.
  bool ReadCurrentToken();
  // Token := the next token, moving on; false at the end.
  bool ReadNextToken();
  // ReadNextToken, then: at the end 30161 "Unexpected end of SQL command found
  // at line %d, column %d" (the last token read) unless NativeErrorCode is -1;
  // a token whose type is not in a non-empty TokenTypes raises NativeErrorCode
  // with ErrorMsg (token text, line, column), unless that code is -1.
  void ReadNextSpecifiedToken(TTokenTypes TokenTypes, int32_t NativeErrorCode,
                              std::string_view ErrorMsg);
  // An alias starting at the current token: AS and an alias token (else 30177
  // "Field pseudonym expected, but '%s' found at line %d, column %d"), or a
  // plain name, bracketed name or parameter without AS (a quoted text is an
  // alias only after AS). A parameter gives its value as text. The token after
  // the alias becomes current; false, reading nothing, when there is none.
  bool CheckPseudonym(std::string& Pseudonym);

  // ---- shared clauses
  // [MEMORY] [database .] table [[AS] alias] [PASSWORD password] from the
  // current token; a parameter gives its value as text. No reserved word but
  // MEMORY is refused as a table name. Raises 30230 (no table name at the
  // current token), 30231 (none after MEMORY or the dot), both "Table name
  // expected, but '%s' found at line %d, column %d", 30238 "Quoted password
  // expected (for PASSWORD \"passwordData\"), but '%s' found at line %d,
  // column %d", and 30177 from the alias. The token after the reference stays
  // current.
  void ParseTableReference(std::string& DatabaseName, std::string& TableName, bool& InMemory,
                           std::string& Password, std::string& Alias);
  // name [, name ...] appended to List (USING, CORRESPONDING BY, ALTER TABLE).
  // 10408 "Field name expected, but expression '%s...' found at line %d,
  // column %d" without a first name, 10406 "Unexpected token '%s' found at
  // line %d, column %d" for something else after a comma. The token after the
  // last name stays current.
  void ParseFieldNameList(std::vector<std::string>& List);
  // The column references of GROUP BY, each appended to List as a plain
  // column item. 10409 (the text of 10408) for an item that is no column
  // reference, 10410 (the text of 10406) after a comma.
  void ParseFieldReferenceList(TVEXFields& List);

  // ---- the components a statement reads or writes a table through
  // A new database component (not opened, no owner) and a table component on
  // it. With a DatabaseFileName the table lives on that file, reached through
  // the new component named "TEMP_DB" and a GUID with Password, silently;
  // without one on the query's own database. The table is in memory when
  // InMemory or the query is. Query must be the query component
  // (rtl::EInvalidCast otherwise).
  static void CreateTargetTable(db::TDataSet* Query, const std::string& DatabaseFileName,
                                std::unique_ptr<TVEXDatabase>& Database,
                                std::unique_ptr<TVEXTable>& Table, bool InMemory,
                                const std::string& Password, const std::string& TableName);
  // Frees the table first, then the database component.
  static void FreeTargetTable(std::unique_ptr<TVEXTable>& Table,
                              std::unique_ptr<TVEXDatabase>& Database) noexcept;

  TVEXLexer* LLex;
  TToken Token;
  db::TDataSet* LQuery;
  // Rows inserted, updated or deleted by the last ExecSQL.
  int32_t RowsAffected = 0;
  // The statement's table was named with MEMORY.
  bool IntoMemory = false;

 protected:
  // The 8-bit text a name token stands for: a parameter's value, else the
  // token's text.
  static std::string NameOfToken(const TToken& T);
  // Raises Code with Format and the current token's text, line and column.
  [[noreturn]] void RaiseAtToken(int32_t Code, std::string_view Format) const;
};

// The query component that runs a statement. Raises rtl::EInvalidCast
// "Invalid class typecast" for anything else (null included).
TVEXDataSet& QueryComponent(db::TDataSet* Query);

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
