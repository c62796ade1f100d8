// UPDATE (see VEXSQLUpdate.h).
#include "sql/dml/VEXSQLUpdate.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "components/VEXEngineError.h"
#include "components/VEXLocalCursor.h"
#include "components/VEXTable.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXVariant.h"
#include "os/Clock.h"
#include "rtl/CodePage.h"
#include "sql/dml/VEXDMLCommand.h"
#include "sql/expression/VEXExpression.h"
#include "sql/statements/VEXSQLSelect.h"
#include "storage/VEXCursor.h"
#include "storage/disk/VEXDiskTableData.h"

namespace vex {

namespace {

constexpr std::string_view kTokenExpected =
    "Token '%s' expected, but '%s' found at line %d, column %d";
constexpr std::string_view kUnexpectedEnd =
    "Unexpected end of SQL command found at line %d, column %d";

// Names compare with a to z folded only, as the lexer folds words.
bool SameAsciiText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    char a = A[i], b = B[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

// A record or table lock that another connection held too long.
bool IsLockFailure(const EVEXEngineError& E) { return E.ErrorCode() == -12 || E.ErrorCode() == -13; }

// Only a disk table's cancelled batch undoes what an attempt changed.
bool CancelUndoesChanges(TVEXCursor& Cursor) {
  auto* local = dynamic_cast<TVEXLocalCursor*>(&Cursor);
  return local != nullptr && dynamic_cast<TVEXDiskTableData*>(local->TableData()) != nullptr;
}

// A copy of a value that an expression owns and overwrites on its next
// evaluation; nothing for nothing.
std::unique_ptr<TVEXVariant> CopyOf(const TVEXVariant* Value) {
  if (Value == nullptr) return nullptr;
  auto copy = std::make_unique<TVEXVariant>();
  copy->Assign(*Value, true);
  return copy;
}

std::vector<db::TBookmark> NoteRows(TVEXTable& Source) {
  std::vector<db::TBookmark> rows;
  for (Source.First(); !Source.Eof(); Source.Next()) rows.push_back(Source.GetBookmark());
  return rows;
}

}  // namespace

TVEXSQLUpdate::TVEXSQLUpdate(TVEXLexer& Lexer, db::TDataSet* Query)
    : TVEXSQLCommand(Lexer, Query),
      FSelectLexer(std::make_unique<TVEXLexer>(u"", nullptr, false)) {}

TVEXSQLUpdate::~TVEXSQLUpdate() {
  // The SELECT's expressions may point into the lexer's tokens: it goes first.
  InternalSelecter.reset();
  FSelectLexer.reset();
}

// ---------------------------------------------------------------- grammar

void TVEXSQLUpdate::Parse() {
  if (!ReadCurrentToken()) throw EVEXException(30216, "Blank SQL command");
  if (!ReadNextToken() || !kTableNameTokens.Contains(Token.TokenType))
    RaiseAtToken(30217, "Table name expected, but '%s' found at line %d, column %d");
  const TToken tableToken = Token;
  ParseTableReference(DatabaseFileName, TableName, IntoMemory, Password, FTablePseudonym);
  if (!IsReservedWordToken(Token, rwSET))
    throw EVEXException(30220, kTokenExpected, "SET", Token.Text, Token.LineNum, Token.ColumnNum);
  ReadNextToken();
  if (Token.TokenType == tktLeftParenthesis)
    ParseRowSubqueryForm();
  else
    ParseSetList();
  // Only a WHERE may follow the values: anything else would be dropped.
  if (ReadCurrentToken() && !IsReservedWordToken(Token, rwWHERE))
    RaiseAtToken(30527, "End of SQL command expected, but '%s' found at line %d, column %d");
  BuildInternalSelect(tableToken);
}

void TVEXSQLUpdate::ParseColumn() {
  if (Token.TokenType == tktNone)
    throw EVEXException(30223, kUnexpectedEnd, Token.LineNum, Token.ColumnNum);
  std::string name = NameOfToken(Token);
  TToken next;
  LLex->LookNextToken(next);
  if (next.TokenType == tktDot && SameAsciiText(name, TableName)) {
    ReadNextToken();
    if (!ReadNextToken()) throw EVEXException(30223, kUnexpectedEnd, Token.LineNum, Token.ColumnNum);
    name = NameOfToken(Token);
  }
  FieldNames.Add(std::move(name));
  ReadNextToken();
}

void TVEXSQLUpdate::ParseRowSubqueryForm() {
  IsFieldValuesSubquery = true;
  ReadNextToken();
  ParseColumn();
  while (Token.TokenType == tktComma) {
    ReadNextToken();
    ParseColumn();
  }
  if (Token.TokenType != tktRightParenthesis)
    throw EVEXException(30494, kTokenExpected, ")", Token.Text, Token.LineNum, Token.ColumnNum);
  ReadNextToken();
  if (Token.Text != u"=")
    throw EVEXException(30495, kTokenExpected, "=", Token.Text, Token.LineNum, Token.ColumnNum);
  ReadNextToken();
  FieldValuesSubqueryExpr = std::make_unique<TVEXExpression>();
  FieldValuesSubqueryExpr->ParseForRowSubqueryExpression(LQuery, *LLex);
}

void TVEXSQLUpdate::ParseSetList() {
  for (;;) {
    ParseColumn();
    if (Token.Text != u"=")
      throw EVEXException(30221, kTokenExpected, "=", Token.Text, Token.LineNum, Token.ColumnNum);
    ReadNextToken();
    auto value = std::make_unique<TVEXExpression>();
    value->ParseForValueExpression(LQuery, *LLex);
    FieldValues.push_back(std::move(value));
    if (!ReadCurrentToken() || IsReservedWordToken(Token, rwWHERE)) return;
    if (Token.TokenType != tktComma)
      throw EVEXException(30222, kTokenExpected, ",", Token.Text, Token.LineNum, Token.ColumnNum);
    if (!ReadNextToken()) throw EVEXException(30223, kUnexpectedEnd, Token.LineNum, Token.ColumnNum);
  }
}

void TVEXSQLUpdate::BuildInternalSelect(const TToken& At) {
  TVEXLexer& lexer = *FSelectLexer;
  lexer.AddCommand();
  const auto add = [&](TTokenType Type, TReservedWord Word, std::u16string Text) {
    TToken t;
    t.TokenType = Type;
    t.ReservedWord = Word;
    t.Text = std::move(Text);
    t.LineNum = At.LineNum;
    t.ColumnNum = At.ColumnNum;
    lexer.AddToken(t);
  };
  add(tktReservedWord, rwSELECT, u"select");
  add(tktString, rwNone, u"*");
  add(tktReservedWord, rwFROM, u"from");
  if (IntoMemory) add(tktReservedWord, rwMEMORY, u"MEMORY");
  if (!DatabaseFileName.empty()) {
    add(tktQuotedString, rwNone, rtl::Win1252ToUtf16(DatabaseFileName));
    add(tktDot, rwNone, u".");
  }
  add(tktString, rwNone, rtl::Win1252ToUtf16(TableName));
  if (!FTablePseudonym.empty()) add(tktString, rwNone, rtl::Win1252ToUtf16(FTablePseudonym));
  if (!Password.empty()) {
    add(tktReservedWord, rwPASSWORD, u"PASSWORD");
    add(tktQuotedString, rwNone, rtl::Win1252ToUtf16(Password));
  }
  if (ReadCurrentToken() && IsReservedWordToken(Token, rwWHERE)) {
    const int32_t command = LLex->CurrentCommandNo;
    const int32_t count = LLex->Commands.at(static_cast<size_t>(command)).NumTokens;
    for (int32_t no = LLex->GetCurrentTokenNo(); no < count; ++no)
      lexer.MoveTokenFrom(*LLex, command, no);
    LLex->SetCurrentTokenNo(count);
  }
  lexer.SetCurrentTokenNo(0);
  InternalSelecter = std::make_unique<TVEXSQLSelect>(lexer, LQuery);
  InternalSelecter->Parse();
  TToken left;
  if (lexer.GetCurrentToken(left))
    throw EVEXException(30527, "End of SQL command expected, but '%s' found at line %d, column %d",
                        left.Text, left.LineNum, left.ColumnNum);
}

// ---------------------------------------------------------------- running

void TVEXSQLUpdate::ExecSQL(db::TDataSet* Query, bool IsRoot, bool /*RequestLive*/,
                            bool& ReadOnly, TVEXAO* /*ParentQueryAO*/,
                            TVEXCursor* /*ParentCursor*/) {
  RowsAffected = 0;
  Attempts = 0;
  InternalSelecter->ExecSQL(Query, IsRoot, true, ReadOnly, nullptr, nullptr);
  auto* source = dynamic_cast<TVEXTable*>(InternalSelecter->GetResultDataset());
  if (source == nullptr || source->Handle() == nullptr) RaiseNilPointer(30528);
  TVEXCursor& sourceCursor = *source->Handle();

  TVEXTable writer(nullptr);
  writer.SetSessionName(source->SessionName());
  writer.SetDatabaseName(source->DatabaseName());
  writer.SetTableName(source->TableName());
  writer.SetInMemory(source->InMemory());
  writer.Open();
  TVEXCursor& writerCursor = *writer.Handle();

  sourceCursor.LockTableData();
  ScopeExit unlockData([&] { sourceCursor.UnlockTableData(); });
  // Column references in the values read the row being updated.
  for (auto& value : FieldValues) value->AssignCursor(&writerCursor, nullptr, nullptr);
  if (FieldValuesSubqueryExpr != nullptr)
    FieldValuesSubqueryExpr->AssignCursor(&writerCursor, nullptr, nullptr);

  if (sourceCursor.InTransaction()) {
    Attempts = 1;
    UpdateRows(writer, NoteRows(*source));
    return;
  }
  const bool undoable = CancelUndoesChanges(writerCursor);
  for (int32_t attempt = 1;; ++attempt) {
    Attempts = attempt;
    TVEXWriteLocks locks(sourceCursor);
    if (!locks.LockInRounds()) throw EVEXException(20223, "Table is locked");
    try {
      TVEXBatchUpdate batch(writerCursor);
      RowsAffected = 0;
      // The rows are noted under the write lock, before the first change: a
      // row that the update moves forward in the view's order is not met
      // twice.
      UpdateRows(writer, NoteRows(*source));
      batch.Commit();
      locks.Unlock();
      return;
    } catch (const EVEXEngineError& e) {
      // Another try makes sense only when the lock held by someone else was
      // the cause and the cancelled batch took back every row of this one.
      if (!undoable || !IsLockFailure(e) || attempt >= kUpdateAttempts) throw;
    }
    locks.Unlock();
    sourceCursor.UnlockTableData();
    ScopeExit retake([&] { sourceCursor.LockTableData(); });
    os::CurrentClock().Sleep(kAttemptPauseMs);
  }
}

void TVEXSQLUpdate::UpdateRows(TVEXTable& Writer, const std::vector<db::TBookmark>& Rows) {
  for (const db::TBookmark& row : Rows) {
    Writer.GotoBookmark(row);
    Writer.Edit();
    try {
      // The values read the record being edited, whose buffer the dataset
      // picks anew for every edit.
      const uint8_t* record = Writer.Handle()->CurrentRecordBuffer();
      for (auto& value : FieldValues) value->AssignCursorBuffer(record, false);
      if (FieldValuesSubqueryExpr != nullptr)
        FieldValuesSubqueryExpr->AssignCursorBuffer(record, false);
      // Every value reads the row as it was before any column of it changed.
      std::vector<std::unique_ptr<TVEXVariant>> values;
      if (IsFieldValuesSubquery) {
        FieldValuesSubqueryExpr->ResetSubqueryFieldValues();
        for (int32_t i = 0; i < FieldNames.Count(); ++i)
          values.push_back(CopyOf(FieldValuesSubqueryExpr->GetSubqueryFieldValue(i)));
      } else {
        for (auto& value : FieldValues) values.push_back(CopyOf(value->GetValue(true)));
      }
      for (int32_t i = 0; i < FieldNames.Count(); ++i)
        AssignVariantToField(values[static_cast<size_t>(i)].get(),
                             Writer.FieldByName(FieldNames.Strings(i)));
      Writer.Post();
    } catch (...) {
      try {
        Writer.Cancel();
      } catch (...) {
      }
      throw;
    }
    ++RowsAffected;
  }
}

}  // namespace vex
