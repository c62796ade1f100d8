#include "sql/ddl/VEXDDLIndex.h"

#include "components/VEXDatabase.h"
#include "components/VEXSession.h"
#include "components/VEXTable.h"
#include "foundation/VEXStream.h"
#include "sql/ddl/VEXDDLTable.h"

namespace vex {

namespace {

// Until the statement base has CreateTargetTable.
TVEXDDLTarget NewTargetTable(db::TDataSet* Query, const std::string& DatabaseFileName,
                             bool InMemory, const std::string& Password,
                             const std::string& TableName) {
  auto* query = dynamic_cast<TVEXDataSet*>(Query);
  if (query == nullptr) throw rtl::EInvalidOperation("Invalid class typecast");
  TVEXDatabase* queryDatabase = query->Database();
  if (queryDatabase == nullptr)
    queryDatabase = query->DBSession().FindDatabase(query->DatabaseName());
  TVEXDDLTarget target;
  target.Database = std::make_unique<TVEXDatabase>(nullptr);
  TVEXDatabase& database = *target.Database;
  if (queryDatabase != nullptr) {
    database.SetMultiUser(queryDatabase->MultiUser());
    database.SetDisableTempFiles(queryDatabase->DisableTempFiles());
  }
  database.SetDatabaseFileName(DatabaseFileName);
  database.SetSessionName(query->SessionName());
  database.SetDatabaseName(MakeUniqueName("TEMP_DB"));
  database.SetPassword(Password);
  database.SetSilentMode(true);
  target.Table = std::make_unique<TVEXTable>(nullptr);
  TVEXTable& table = *target.Table;
  table.SetSessionName(query->SessionName());
  table.SetDatabaseName(DatabaseFileName.empty() ? query->DatabaseName() : database.DatabaseName());
  table.SetTableName(TableName);
  if (InMemory || query->InMemory()) table.SetInMemory(true);
  return target;
}

std::string JoinNames(const std::vector<TVEXIndexField>& Fields,
                      bool (*Take)(const TVEXIndexField&)) {
  std::string list;
  for (const TVEXIndexField& f : Fields) {
    if (!Take(f)) continue;
    if (!list.empty()) list += ';';
    list += f.FieldName;
  }
  return list;
}

constexpr std::string_view kPasswordExpected =
    "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column "
    "%d";

}  // namespace

// ---- CREATE INDEX -----------------------------------------------------------------

void TVEXDDLCreateIndex::Parse() {
  ReadCurrentToken();
  if (IsReservedWordToken(Token, rwUNIQUE)) {
    static constexpr std::string_view kIndexExpected =
        "'INDEX' keyword expected, but '%s' found at line %d, column %d";
    Unique = true;
    ReadNextSpecifiedToken({tktReservedWord}, 30267, kIndexExpected);
    if (Token.ReservedWord != rwINDEX)
      throw EVEXException(30268, kIndexExpected, Token.Text, Token.LineNum, Token.ColumnNum);
  }
  ReadNextSpecifiedToken(kNameTokens, 30269,
                         "index name expected, but '%s' found at line %d, column %d");
  IndexName = TextOf(Token);
  static constexpr std::string_view kOnExpected =
      "'ON' keyword expected, but '%s' found at line %d, column %d";
  ReadNextSpecifiedToken({tktReservedWord}, 30270, kOnExpected);
  if (Token.ReservedWord != rwON)
    throw EVEXException(30271, kOnExpected, Token.Text, Token.LineNum, Token.ColumnNum);
  ReadNextRequiredToken();
  ParseTableReference(DatabaseFileName, TableName, InMemory, Password, TableAlias);
  if (!ReadCurrentToken()) RaiseUnexpectedEnd();
  if (Token.TokenType != tktLeftParenthesis)
    throw EVEXException(30273, "'(' symbol expected, but '%s' found at line %d, column %d",
                        Token.Text, Token.LineNum, Token.ColumnNum);
  do {
    ReadNextSpecifiedToken(kNameTokens, 30274,
                           "Field name expected, but '%s' found at line %d, column %d");
    if (IsReservedWordToken(Token, rwPASSWORD)) {
      ReadNextSpecifiedToken({tktQuotedString, tktParameter}, 30275, kPasswordExpected);
      Password = TextOf(Token);
      ReadNextSpecifiedToken({tktRightParenthesis, tktComma}, 30276,
                             "')' or ',' symbol expected, but '%s' found at line %d, column %d");
      continue;
    }
    TVEXIndexField field{TextOf(Token), false, false};
    // Up to the next "," or ")": the order and case words; anything else is
    // passed over.
    do {
      ReadNextRequiredToken();
      if (IsReservedWordToken(Token, rwASC) || IsReservedWordToken(Token, rwDESC))
        field.desc = Token.ReservedWord == rwDESC;
      else if (IsReservedWordToken(Token, rwCASE) || IsReservedWordToken(Token, rwNOCASE))
        field.nocase = Token.ReservedWord == rwNOCASE;
    } while (Token.TokenType != tktComma && Token.TokenType != tktRightParenthesis);
    VEXIndexFields.push_back(std::move(field));
  } while (Token.TokenType != tktRightParenthesis);
}

void TVEXDDLCreateIndex::ExecSQL(db::TDataSet* Query, bool, bool, bool&, TVEXAO*, TVEXCursor*) {
  const std::string fields = JoinNames(VEXIndexFields, [](const TVEXIndexField&) { return true; });
  const std::string descFields =
      JoinNames(VEXIndexFields, [](const TVEXIndexField& f) { return f.desc; });
  const std::string caseInsFields =
      JoinNames(VEXIndexFields, [](const TVEXIndexField& f) { return f.nocase; });
  TVEXDDLTarget target = NewTargetTable(Query, DatabaseFileName, InMemory, Password, TableName);
  TVEXTable& table = *target.Table;
  table.Open();
  table.AddIndex(IndexName, fields, Unique ? db::TIndexOptions{db::ixUnique} : db::TIndexOptions{},
                 descFields, caseInsFields);
  table.Close();
}

// ---- DROP INDEX -------------------------------------------------------------------

void TVEXDDLDropIndex::Parse() {
  ReadCurrentToken();
  if (!ReadNextToken()) RaiseUnexpectedEnd(30278);
  std::string first, second;
  ParseTableReference(first, second, InMemory, Password, TableAlias);
  if (ReadCurrentToken() && Token.TokenType == tktDot) {
    if (!ReadNextToken()) RaiseUnexpectedEnd(30281);
    DatabaseFileName = first;
    TableName = second;
    IndexName = TextOf(Token);
    ReadNextToken();
  } else {
    TableName = first;
    IndexName = second;
  }
  if (TableName.empty())
    throw EVEXException(30498, "Table name expected, but '%s' found at line %d, column %d",
                        IndexName, Token.LineNum, Token.ColumnNum);
  if (ReadCurrentToken() && IsReservedWordToken(Token, rwPASSWORD)) {
    ReadNextSpecifiedToken({tktQuotedString, tktParameter}, 30282, kPasswordExpected);
    Password = TextOf(Token);
  }
}

void TVEXDDLDropIndex::ExecSQL(db::TDataSet* Query, bool, bool, bool&, TVEXAO*, TVEXCursor*) {
  TVEXDDLTarget target = NewTargetTable(Query, DatabaseFileName, InMemory, Password, TableName);
  TVEXTable& table = *target.Table;
  table.Open();
  table.DeleteIndex(IndexName);
  table.Close();
}

}  // namespace vex
