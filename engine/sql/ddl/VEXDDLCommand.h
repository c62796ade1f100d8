// What the table and index statements' parsers share beyond the statement
// base: the token kinds that may name a column or an index, and the readers
// for a token that must follow and for a word that must follow.
#pragma once

#include <cstdint>
#include <string_view>

#include "foundation/VEXExcept.h"
#include "sql/VEXSQLProcessor.h"

namespace vex {

class TVEXDDLCommand : public TVEXSQLCommand {
 public:
  using TVEXSQLCommand::TVEXSQLCommand;

 protected:
  // Tokens that may name a column or an index: a reserved word may.
  static constexpr TTokenTypes kFieldNameTokens{tktString, tktQuotedString, tktBracketedString,
                                                tktReservedWord};

  // "Unexpected end of SQL command found at line %d, column %d" at the last
  // token read.
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
  // The next token must exist (30161) and be the word Word (Code, naming
  // Expected).
  void ReadNextWord(TReservedWord Word, int32_t Code, std::u16string_view Expected) {
    ReadNextRequiredToken();
    if (!IsReservedWordToken(Token, Word)) RaiseTokenExpected(Code, Expected);
  }
};

}  // namespace vex
