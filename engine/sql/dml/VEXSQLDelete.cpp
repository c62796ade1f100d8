// DELETE (see VEXSQLDelete.h).
#include "sql/dml/VEXSQLDelete.h"

#include <memory>
#include <string>

#include "components/VEXTable.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "sql/dml/VEXDMLCommand.h"
#include "sql/statements/VEXSQLSelect.h"
#include "storage/VEXCursor.h"

namespace vex {

TVEXSQLDelete::TVEXSQLDelete(TVEXLexer& Lexer, db::TDataSet* Query)
    : TVEXSQLCommand(Lexer, Query) {}

TVEXSQLDelete::~TVEXSQLDelete() = default;

void TVEXSQLDelete::Parse() {
  if (!ReadCurrentToken())
    throw EVEXException(30224, "Unexpected end of SQL command found at line %d, column %d",
                        Token.LineNum, Token.ColumnNum);
  // DELETE becomes "select *" at the place of the word DELETE.
  TSQLCommand& command = LLex->Commands.at(static_cast<size_t>(LLex->CurrentCommandNo));
  const int32_t at = LLex->GetCurrentTokenNo();
  TToken select = Token;
  select.TokenType = tktReservedWord;
  select.ReservedWord = rwSELECT;
  select.Text = u"select";
  select.ParamValue = nullptr;
  TToken& star = command.Tokens.at(static_cast<size_t>(at));
  star.TokenType = tktString;
  star.ReservedWord = rwNone;
  star.Text = u"*";
  command.Tokens.insert(command.Tokens.begin() + at, select);
  command.NumTokens = static_cast<int32_t>(command.Tokens.size());
  LLex->SetCurrentTokenNo(at);

  InternalSelecter = std::make_unique<TVEXSQLSelect>(*LLex, LQuery);
  InternalSelecter->Parse();
  // What the SELECT left would otherwise be dropped, and the rows deleted
  // under a condition other than the one written.
  if (ReadCurrentToken())
    RaiseAtToken(30525, "End of SQL command expected, but '%s' found at line %d, column %d");
}

void TVEXSQLDelete::ExecSQL(db::TDataSet* Query, bool IsRoot, bool /*RequestLive*/,
                            bool& ReadOnly, TVEXAO* /*ParentQueryAO*/,
                            TVEXCursor* /*ParentCursor*/) {
  RowsAffected = 0;
  DeletedThroughSource = false;
  InternalSelecter->ExecSQL(Query, IsRoot, true, ReadOnly, nullptr, nullptr);
  auto* source = dynamic_cast<TVEXTable*>(InternalSelecter->GetResultDataset());
  if (source == nullptr || source->Handle() == nullptr) RaiseNilPointer(30526);
  TVEXCursor& sourceCursor = *source->Handle();

  const bool throughSource =
      sourceCursor.RecordBitmap != nullptr && sourceCursor.RecordBitmap->Active();
  std::unique_ptr<TVEXTable> second;
  if (!throughSource) {
    second = std::make_unique<TVEXTable>(nullptr);
    second->SetSessionName(source->SessionName());
    second->SetDatabaseName(source->DatabaseName());
    second->SetTableName(source->TableName());
    second->SetInMemory(source->InMemory());
    second->Open();
  }
  TVEXTable& writer = throughSource ? *source : *second;
  TVEXCursor& writerCursor = *writer.Handle();

  sourceCursor.LockTableData();
  ScopeExit unlockData([&] { sourceCursor.UnlockTableData(); });
  const bool inTransaction = sourceCursor.InTransaction();
  TVEXWriteLocks locks(sourceCursor);
  if (!inTransaction && !locks.LockInRounds()) throw EVEXException(20223, "Table is locked");

  source->First();
  // Inside a transaction the batch is no batch: the cursor ignores it.
  TVEXBatchUpdate batch(writerCursor);
  if (throughSource) {
    DeletedThroughSource = true;
    while (!source->Eof()) {
      source->Delete();
      ++RowsAffected;
    }
  } else {
    while (!source->Eof()) {
      const db::TBookmark bookmark = source->GetBookmark();
      source->Next();
      second->GotoBookmark(bookmark);
      second->Delete();
      ++RowsAffected;
    }
  }
  batch.Commit();
  locks.Unlock();
}

}  // namespace vex
