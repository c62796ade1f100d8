// Cursor statements (see VEXSQLCursorCommand.h).
#include "sql/statements/VEXSQLCursorCommand.h"

#include <charconv>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "components/VEXQuery.h"
#include "components/VEXTable.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "os/Clock.h"
#include "rtl/CodePage.h"
#include "sql/algebra/VEXAODataset.h"
#include "sql/algebra/VEXAOTableDataset.h"
#include "storage/VEXCursor.h"

namespace vex {

namespace {

constexpr std::string_view kUnexpectedToken = "Unexpected token '%s' found at line %d, column %d";

// A whole number written as ORDER BY key; -1 reads as a name.
bool ReadColumnPosition(const std::string& Text, int32_t& Position) {
  const char* end = Text.data() + Text.size();
  auto [ptr, ec] = std::from_chars(Text.data(), end, Position);
  return ec == std::errc() && ptr == end && !Text.empty() && Position != -1;
}

// The link number of visible column Position (from 1) of an operator without
// a visible column order of its own (a set operation): its visible links in
// link order. -1 outside them.
int32_t VisibleLinkOfUnorderedAO(const TVEXAO& AO, int32_t Position) {
  int32_t seen = 0;
  for (int32_t no = 0; no < AO.FieldCount(); ++no) {
    if (AO.FieldLink(no).IsHidden) continue;
    if (++seen == Position) return no;
  }
  return -1;
}

}  // namespace

TVEXSQLCursorCommand::~TVEXSQLCursorCommand() = default;

// ---------------------------------------------------------------- ORDER BY

bool TVEXSQLCursorCommand::ParseOrderBy() {
  if (!IsReservedWordToken(Token, rwORDER)) return false;
  ReadNextToken();
  if (!IsReservedWordToken(Token, rwBY))
    throw EVEXException(30188, "Token '%s' expected, but '%s' found at line %d, column %d", "BY",
                        Token.Text, Token.LineNum, Token.ColumnNum);
  constexpr TTokenTypes kKeyStart{tktString, tktQuotedString, tktBracketedString,
                                  tktInt,    tktReservedWord, tktParameter};
  constexpr TTokenTypes kAfterDot{tktString, tktQuotedString, tktBracketedString, tktReservedWord,
                                  tktParameter};
  constexpr TTokenTypes kAfterComma{tktString, tktQuotedString, tktBracketedString, tktInt,
                                    tktReservedWord};
  ReadNextSpecifiedToken(kKeyStart, 30187,
                         "Field name expected, but '%s' found at line %d, column %d");
  for (;;) {
    TVEXSortSpecification spec;
    spec.ColumnName = NameOfToken(Token);
    ReadNextToken();
    if (Token.TokenType == tktDot) {
      spec.TableName = spec.ColumnName;
      ReadNextSpecifiedToken(kAfterDot, 30186, kUnexpectedToken);
      spec.ColumnName = NameOfToken(Token);
      ReadNextToken();
    }
    if (IsReservedWordToken(Token, rwASC)) {
      ReadNextToken();
    } else if (IsReservedWordToken(Token, rwDESC)) {
      spec.Descending = true;
      ReadNextToken();
    }
    OrderBySpecs.push_back(std::move(spec));
    if (Token.TokenType != tktComma) return true;
    ReadNextSpecifiedToken(kAfterComma, 30189, kUnexpectedToken);
  }
}

void TVEXSQLCursorCommand::ApplyOrderBy(TVEXAO& AO) {
  if (OrderBySpecs.empty()) return;
  std::string fields, descending;
  const auto append = [](std::string& list, const std::string& name) {
    if (!list.empty()) list += ";";
    list += name;
  };
  for (const TVEXSortSpecification& spec : OrderBySpecs) {
    std::string column = spec.ColumnName;
    int32_t link = -1;
    int32_t position;
    if (spec.TableName.empty() && ReadColumnPosition(column, position)) {
      if (AO.ResultFieldsOrder().empty()) {
        // A set operation shows its columns without an order of its own:
        // positions count its visible columns.
        link = VisibleLinkOfUnorderedAO(AO, position);
        if (link < 0)
          throw EVEXException(20243, "Invalid field number in ORDER BY clause: %d", position);
      } else {
        column = AO.GetFieldNameByVisibleNumber(position - 1);
      }
    }
    if (link < 0) {
      std::vector<int32_t> matches;
      // A grouping shows one row per group: its input's other columns are
      // not there to order by, so they count as no match.
      const bool grouping = AO.IsAOGroupBy();
      if (AO.FieldExists(column, spec.TableName, !grouping, &matches, false, grouping) == 0)
        throw EVEXException(30195, "Column '%s' from ORDER BY clause not found", column);
      link = matches.front();
    }
    // The operator's own name of the column, which its result table has. (A
    // set operation's links read their input tables by visible position,
    // which the inputs' physical field names do not follow.)
    const std::string name = AO.FieldLink(link).FieldName;
    append(fields, name);
    if (spec.Descending) append(descending, name);
  }
  AO.SetIndex(fields, descending, "");
}

// ----------------------------------------------------------------- running

bool TVEXSQLCursorCommand::LockQueryTables() {
  if (!FRootAO->OpenTables()) return false;
  for (int32_t attempt = 1; attempt <= kLockAttempts; ++attempt) {
    if (FRootAO->LockTables()) return true;
    if (!FRootAO->UnlockTables()) throw EVEXException(20226, "Cannot unlock table");
    if (attempt < kLockAttempts) os::CurrentClock().Sleep(kLockPauseMs);
  }
  return false;
}

bool TVEXSQLCursorCommand::UnlockQueryTables() noexcept {
  try {
    return FRootAO->UnlockTables();
  } catch (...) {
    return false;
  }
}

void TVEXSQLCursorCommand::ExecSQL(db::TDataSet* Query, bool IsRoot, bool RequestLive,
                                   bool& ReadOnly, TVEXAO* ParentQueryAO,
                                   TVEXCursor* ParentCursor) {
  RowsAffected = 0;
  FRootAO.reset();
  FRootAO = BuildAOTree(Query, RequestLive, ParentQueryAO, ParentCursor, false);

  const bool hasInto = !IntoTable.empty();
  if (hasInto && !FRootAO->IsAOTable()) {
    TVEXQuery& query = QueryComponent(Query);
    if (IntoDatabase.empty() && !IntoMemory) IntoDatabase = query.DatabaseName();
    FRootAO->SetResultTable(IntoMemory || query.InMemory(), IntoImmediate, IntoTable, IntoDatabase);
  }

  if (!LockQueryTables()) {
    UnlockQueryTables();
    throw EVEXException(20225, "Table is locked");
  }
  try {
    FRootAO->Execute(IsRoot, ParentQueryAO, ParentCursor);
  } catch (...) {
    UnlockQueryTables();
    throw;
  }
  if (!UnlockQueryTables()) throw EVEXException(20227, "Cannot unlock table");

  if (IsRoot) {
    ReadOnly = !RequestLive || (!FRootAO->IsAOTable() && !hasInto);
    if (TVEXCursor* cursor = GetResultCursor()) cursor->SetReadOnly(ReadOnly);
  }
  // A root that wrote into the target has it as its (lasting) result table.
  if (hasInto && (FRootAO->IsAOTable() || FRootAO->ResultDataset() == nullptr ||
                  FRootAO->ResultDataset()->Temporary()))
    CopyResultInto(Query);
}

void TVEXSQLCursorCommand::CopyResultInto(db::TDataSet* Query) {
  TVEXQuery& query = QueryComponent(Query);
  auto* result = dynamic_cast<TVEXDataSet*>(GetResultDataset());
  if (result == nullptr) RaiseNilPointer(10513);
  const bool inMemory = IntoMemory || query.InMemory();
  TVEXTable target(nullptr);
  target.SetSessionName(query.SessionName());
  // A database named with INTO is kept, as the root's own write keeps it.
  target.SetDatabaseName(inMemory               ? "MEMORY"
                         : IntoDatabase.empty() ? query.DatabaseName()
                                                : IntoDatabase);
  target.SetInMemory(inMemory);
  target.SetTableName(IntoTable);

  TVEXDatabase* database = query.Database();
  const bool wasSilent = database != nullptr && database->SilentMode();
  if (database != nullptr) database->SetSilentMode(true);
  ScopeExit restore([&] {
    if (database != nullptr) database->SetSilentMode(wasSilent);
  });
  result->AdvIndexDefs().Clear();
  result->IndexDefs().Clear();
  std::string log;
  if (!target.ImportTable(*result, log, nullptr))
    throw EVEXException(10403, "Error importing table. Cannot copy data due to error: %s\r\n", log);
}

TVEXCursor* TVEXSQLCursorCommand::GetResultCursor() {
  if (FRootAO == nullptr || FRootAO->ResultDataset() == nullptr) return nullptr;
  return FRootAO->ResultDataset()->Handle();
}

db::TDataSet* TVEXSQLCursorCommand::GetResultDataset() {
  if (FRootAO == nullptr) return nullptr;
  auto* dataset = dynamic_cast<TVEXAOTableDataset*>(FRootAO->ResultDataset());
  return dataset == nullptr ? nullptr : &dataset->Table();
}

}  // namespace vex
