// Token readers of the DDL statements until the statement base has them.
#pragma once

#include <memory>
#include <string>

#include "foundation/VEXExcept.h"
#include "rtl/CodePage.h"
#include "rtl/Lists.h"
#include "sql/VEXSQLProcessor.h"

namespace vex {

class TVEXDDLCommand : public TVEXSQLCommand {
 public:
  using TVEXSQLCommand::TVEXSQLCommand;

 protected:
  // Tokens that may name a column or an index.
  static constexpr TTokenTypes kNameTokens{tktString, tktQuotedString, tktBracketedString,
                                           tktReservedWord};

  [[noreturn]] void RaiseUnexpectedEnd(int32_t Code = 30161) const {
    throw EVEXException(Code, "Unexpected end of SQL command found at line %d, column %d",
                        Token.LineNum, Token.ColumnNum);
  }
  // "Token '%s' expected, but '%s' found at line %d, column %d".
  [[noreturn]] void RaiseTokenExpected(int32_t Code, std::u16string_view Expected) const {
    throw EVEXException(Code, "Token '%s' expected, but '%s' found at line %d, column %d", Expected,
                        Token.Text, Token.LineNum, Token.ColumnNum);
  }
  // The next token, which must exist (30161).
  void ReadNextRequiredToken() {
    if (!ReadNextToken()) RaiseUnexpectedEnd();
  }
  // The next token must exist and be the word Word (Code, with Expected).
  void ReadNextWord(TReservedWord Word, int32_t Code, std::u16string_view Expected) {
    ReadNextRequiredToken();
    if (!IsReservedWordToken(Token, Word)) RaiseTokenExpected(Code, Expected);
  }
  bool ReadCurrentToken() { return LLex->GetCurrentToken(Token); }
  bool ReadNextToken() { return LLex->GetNextToken(Token); }
  void ReadNextSpecifiedToken(TTokenTypes TokenTypes, int32_t NativeErrorCode,
                              std::string_view ErrorMsg) {
    if (!ReadNextToken()) {
      if (NativeErrorCode == -1) return;
      throw EVEXException(30161, "Unexpected end of SQL command found at line %d, column %d",
                          Token.LineNum, Token.ColumnNum);
    }
    if (!TokenTypes.Empty() && NativeErrorCode != -1 && !TokenTypes.Contains(Token.TokenType))
      throw EVEXException(NativeErrorCode, ErrorMsg, Token.Text, Token.LineNum, Token.ColumnNum);
  }
  bool CheckPseudonym(std::string& Pseudonym) {
    if (!ReadCurrentToken()) return false;
    if (IsReservedWordToken(Token, rwAS)) {
      ReadNextSpecifiedToken({tktString, tktQuotedString, tktBracketedString, tktParameter}, 30177,
                             "Field pseudonym expected, but '%s' found at line %d, column %d");
    } else if (Token.TokenType != tktString && Token.TokenType != tktBracketedString &&
               Token.TokenType != tktParameter) {
      return false;
    }
    Pseudonym = TextOf(Token);
    ReadNextToken();
    return true;
  }
  static std::string TextOf(const TToken& T) {
    if (T.TokenType == tktParameter && T.ParamValue) return T.ParamValue->AsAnsiString();
    return rtl::Utf16ToWin1252(T.Text);
  }
  void ParseTableReference(std::string& DatabaseName, std::string& TableName, bool& InMemory,
                           std::string& Password, std::string& Alias) {
    DatabaseName.clear();
    Password.clear();
    Alias.clear();
    InMemory = false;
    const TTokenTypes names{tktString, tktQuotedString, tktBracketedString, tktReservedWord,
                            tktParameter};
    if (!ReadCurrentToken() || !names.Contains(Token.TokenType))
      throw EVEXException(30230, "Table name expected, but '%s' found at line %d, column %d",
                          Token.Text, Token.LineNum, Token.ColumnNum);
    if (IsReservedWordToken(Token, rwMEMORY)) {
      InMemory = true;
      ReadNextSpecifiedToken(names, 30231,
                             "Table name expected, but '%s' found at line %d, column %d");
    }
    TableName = TextOf(Token);
    ReadNextToken();
    if (Token.TokenType == tktDot) {
      DatabaseName = TableName;
      ReadNextSpecifiedToken(names, 30231,
                             "Table name expected, but '%s' found at line %d, column %d");
      TableName = TextOf(Token);
      ReadNextToken();
    }
    CheckPseudonym(Alias);
    if (ReadCurrentToken() && IsReservedWordToken(Token, rwPASSWORD)) {
      ReadNextSpecifiedToken({tktQuotedString, tktParameter}, 30238,
                             "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' "
                             "found at line %d, column %d");
      Password = TextOf(Token);
      ReadNextToken();
    }
  }
  void ParseFieldNameList(rtl::TStringList& List) {
    const TTokenTypes names{tktString, tktQuotedString, tktBracketedString};
    if (!ReadCurrentToken() || !names.Contains(Token.TokenType))
      throw EVEXException(10408,
                          "Field name expected, but expression '%s...' found at line %d, column %d",
                          Token.Text, Token.LineNum, Token.ColumnNum);
    List.Add(TextOf(Token));
    while (ReadNextToken() && Token.TokenType == tktComma) {
      ReadNextSpecifiedToken(names, 10406, "Unexpected token '%s' found at line %d, column %d");
      List.Add(TextOf(Token));
    }
  }
};

}  // namespace vex
