#include "sql/ddl/VEXDDLIndex.h"

#include "components/VEXDatabase.h"
#include "components/VEXTable.h"
#include "sql/ddl/VEXDDLTable.h"

namespace vex {

namespace {

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
  ReadNextSpecifiedToken(kFieldNameTokens, 30269,
                         "index name expected, but '%s' found at line %d, column %d");
  IndexName = NameOfToken(Token);
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
    ReadNextSpecifiedToken(kFieldNameTokens, 30274,
                           "Field name expected, but '%s' found at line %d, column %d");
    if (IsReservedWordToken(Token, rwPASSWORD)) {
      ReadNextSpecifiedToken({tktQuotedString, tktParameter}, 30275, kPasswordExpected);
      Password = NameOfToken(Token);
      ReadNextSpecifiedToken({tktRightParenthesis, tktComma}, 30276,
                             "')' or ',' symbol expected, but '%s' found at line %d, column %d");
      continue;
    }
    TVEXIndexField field{NameOfToken(Token), false, false};
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
  TVEXDDLTarget target;
  CreateTargetTable(Query, DatabaseFileName, target.Database, target.Table, InMemory, Password,
                    TableName);
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
    IndexName = NameOfToken(Token);
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
    Password = NameOfToken(Token);
  }
}

void TVEXDDLDropIndex::ExecSQL(db::TDataSet* Query, bool, bool, bool&, TVEXAO*, TVEXCursor*) {
  TVEXDDLTarget target;
  CreateTargetTable(Query, DatabaseFileName, target.Database, target.Table, InMemory, Password,
                    TableName);
  TVEXTable& table = *target.Table;
  table.Open();
  table.DeleteIndex(IndexName);
  table.Close();
}

}  // namespace vex
