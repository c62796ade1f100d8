// The statement base: what every statement's parser shares (token readers,
// aliases, table references, column lists) and the pair of components
// through which a statement reaches a table.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/VEXDataSet.h"
#include "components/VEXDatabase.h"
#include "components/VEXTable.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXStream.h"
#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "sql/VEXRelationalAlgebra.h"
#include "sql/VEXSQLProcessor.h"
#include "sql/expression/VEXExpression.h"

namespace vex {

namespace {

constexpr std::string_view kTableNameExpected =
    "Table name expected, but '%s' found at line %d, column %d";
constexpr std::string_view kUnexpectedToken = "Unexpected token '%s' found at line %d, column %d";
constexpr std::string_view kFieldNameExpected =
    "Field name expected, but expression '%s...' found at line %d, column %d";

// A database name is drawn afresh when a component of that name exists
// already; a GUID clash a few times in a row means something else is wrong,
// and that failure then passes on.
constexpr int kTargetNameAttempts = 5;

}  // namespace

TVEXDataSet& QueryComponent(db::TDataSet* Query) {
  auto* query = dynamic_cast<TVEXDataSet*>(Query);
  if (query == nullptr) throw rtl::EInvalidCast("Invalid class typecast");
  return *query;
}

bool TVEXSQLCommand::ReadCurrentToken() { return LLex->GetCurrentToken(Token); }

bool TVEXSQLCommand::ReadNextToken() { return LLex->GetNextToken(Token); }

void TVEXSQLCommand::ReadNextSpecifiedToken(TTokenTypes TokenTypes, int32_t NativeErrorCode,
                                            std::string_view ErrorMsg) {
  if (!ReadNextToken()) {
    if (NativeErrorCode == -1) return;
    throw EVEXException(30161, "Unexpected end of SQL command found at line %d, column %d",
                        Token.LineNum, Token.ColumnNum);
  }
  if (!TokenTypes.Empty() && NativeErrorCode != -1 && !TokenTypes.Contains(Token.TokenType))
    RaiseAtToken(NativeErrorCode, ErrorMsg);
}

std::string TVEXSQLCommand::NameOfToken(const TToken& T) {
  if (T.TokenType == tktParameter && T.ParamValue != nullptr) return T.ParamValue->AsAnsiString();
  return rtl::Utf16ToWin1252(T.Text);
}

void TVEXSQLCommand::RaiseAtToken(int32_t Code, std::string_view Format) const {
  throw EVEXException(Code, Format, Token.Text, Token.LineNum, Token.ColumnNum);
}

bool TVEXSQLCommand::CheckPseudonym(std::string& Pseudonym) {
  if (IsReservedWordToken(Token, rwAS)) {
    ReadNextSpecifiedToken(kAliasTokens, 30177,
                           "Field pseudonym expected, but '%s' found at line %d, column %d");
  } else if (Token.TokenType != tktString && Token.TokenType != tktBracketedString &&
             Token.TokenType != tktParameter) {
    return false;
  }
  Pseudonym = NameOfToken(Token);
  ReadNextToken();
  return true;
}

void TVEXSQLCommand::ParseTableReference(std::string& DatabaseName, std::string& TableName,
                                         bool& InMemory, std::string& Password,
                                         std::string& Alias) {
  DatabaseName.clear();
  Password.clear();
  Alias.clear();
  InMemory = false;
  ReadCurrentToken();
  if (!kTableNameTokens.Contains(Token.TokenType)) RaiseAtToken(30230, kTableNameExpected);
  if (IsReservedWordToken(Token, rwMEMORY)) {
    InMemory = true;
    ReadNextSpecifiedToken(kTableNameTokens, 30231, kTableNameExpected);
  }
  TableName = NameOfToken(Token);
  ReadNextToken();
  if (Token.TokenType == tktDot) {
    DatabaseName = TableName;
    ReadNextSpecifiedToken(kTableNameTokens, 30231, kTableNameExpected);
    TableName = NameOfToken(Token);
    ReadNextToken();
  }
  CheckPseudonym(Alias);
  if (IsReservedWordToken(Token, rwPASSWORD)) {
    ReadNextSpecifiedToken(
        kPasswordTokens, 30238,
        "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, "
        "column %d");
    Password = NameOfToken(Token);
    ReadNextToken();
  }
}

void TVEXSQLCommand::ParseFieldNameList(std::vector<std::string>& List) {
  ReadCurrentToken();
  if (!kNameTokens.Contains(Token.TokenType)) RaiseAtToken(10408, kFieldNameExpected);
  List.push_back(rtl::Utf16ToWin1252(Token.Text));
  ReadNextToken();
  while (Token.TokenType == tktComma) {
    ReadNextSpecifiedToken(kNameTokens, 10406, kUnexpectedToken);
    List.push_back(rtl::Utf16ToWin1252(Token.Text));
    ReadNextToken();
  }
}

void TVEXSQLCommand::ParseFieldReferenceList(TVEXFields& List) {
  constexpr TTokenTypes kReferenceStart{tktString, tktQuotedString, tktBracketedString,
                                        tktReservedWord};
  for (;;) {
    ReadCurrentToken();
    const TToken first = Token;
    TVEXExpression reference;
    reference.ParseForValueExpression(LQuery, *LLex);
    if (!reference.IsField()) {
      Token = first;
      RaiseAtToken(10409, kFieldNameExpected);
    }
    TVEXSelectListItem item;
    reference.GetFieldInfo(item.TableName, item.FieldName);
    List.Append(item);
    ReadCurrentToken();
    if (Token.TokenType != tktComma) return;
    ReadNextSpecifiedToken(kReferenceStart, 10410, kUnexpectedToken);
  }
}

void TVEXSQLCommand::CreateTargetTable(db::TDataSet* Query, const std::string& DatabaseFileName,
                                       std::unique_ptr<TVEXDatabase>& Database,
                                       std::unique_ptr<TVEXTable>& Table, bool InMemory,
                                       const std::string& Password, const std::string& TableName) {
  TVEXDataSet& query = QueryComponent(Query);
  auto database = std::make_unique<TVEXDatabase>(nullptr);
  if (TVEXDatabase* own = query.Database()) {
    database->SetMultiUser(own->MultiUser());
    database->SetDisableTempFiles(own->DisableTempFiles());
  }
  database->SetDatabaseFileName(DatabaseFileName);
  database->SetSessionName(query.SessionName());
  for (int attempt = 1;; ++attempt) {
    try {
      database->SetDatabaseName(MakeUniqueName("TEMP_DB"));
      break;
    } catch (const rtl::Exception&) {
      if (attempt == kTargetNameAttempts) throw;
    }
  }
  database->SetPassword(Password);
  database->SetSilentMode(true);

  auto table = std::make_unique<TVEXTable>(nullptr);
  table->SetSessionName(query.SessionName());
  table->SetDatabaseName(DatabaseFileName.empty() ? query.DatabaseName()
                                                  : database->DatabaseName());
  table->SetTableName(TableName);
  table->SetInMemory(InMemory || query.InMemory());
  Database = std::move(database);
  Table = std::move(table);
}

void TVEXSQLCommand::FreeTargetTable(std::unique_ptr<TVEXTable>& Table,
                                     std::unique_ptr<TVEXDatabase>& Database) noexcept {
  Table.reset();
  Database.reset();
}

}  // namespace vex
