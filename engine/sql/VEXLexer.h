// The SQL lexer: one SQL text turned into commands of tokens, once, when the
// lexer is created.
//
// Everything that reads SQL works on these tokens afterwards: the statement
// processor walks the commands in order; statements and the expression parser
// walk the tokens of the current command forwards and jump back to a saved
// token number to backtrack or to re-parse a correlated subquery. Every token
// keeps the line and column of its first character (from 1), which every SQL
// error quotes.
//
// Lexical rules in short (the scanner in VEXLexer.cpp has them in full):
//  - white space is exactly tab, CR, LF and blank; commands are split at ';'
//    only, and a command exists only once it has a token, so there are no empty
//    commands;
//  - "--" to the end of the line and "/* */" are comments; a comment ends the
//    token before it;
//  - a token starts with '' "" [] `` (quoted, bracketed and backquoted text) or
//    with a colon directly before a quote or bracket (a quoted parameter name)
//    only where a token starts; anything that is not a delimiter extends the
//    token that is open;
//  - words fold case for a to z only, never by the locale; a quoted, bracketed
//    or backquoted text is never a keyword (a backquoted word of the table is a
//    tktReservedWord with the id rwNone, which only the "any word" test
//    matches);
//  - ":name" and "?" are parameters whose values are copied from the parameter
//    list while scanning; the lexer owns those copies, tokens only point to
//    them.
//
// A lexer is used by one thread at a time.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/VEXConst.h"
#include "foundation/VEXVariant.h"

namespace vex {

// ---------------------------------------------------------------- parameters

// One parameter value with its name; a new one is a null value of unknown
// type with an empty name.
class TVEXSQLParam : public TVEXVariant {
 public:
  TVEXSQLParam() : TVEXVariant(bftUnknown) {}
  std::u16string Name;
};

// The parameter values of one processor, in insertion order (a positional
// parameter takes the entry at its position). The list owns its parameters.
class TVEXSQLParams {
 public:
  TVEXSQLParams() = default;
  TVEXSQLParams(const TVEXSQLParams&) = delete;
  TVEXSQLParams& operator=(const TVEXSQLParams&) = delete;

  int32_t Count() const { return static_cast<int32_t>(FParamList.size()); }
  // Raises rtl::EListError "List index out of bounds (%d)" outside the list.
  TVEXSQLParam& GetValue(int32_t Index) const;
  // Frees the entry at Index and puts Value there. Raises like GetValue (and
  // then frees Value).
  void SetValue(int32_t Index, std::unique_ptr<TVEXSQLParam> Value);
  // Appends a new null parameter for the caller to name and fill.
  TVEXSQLParam& AddCreated();
  void Clear() { FParamList.clear(); }
  // The first parameter whose name equals Name when a to z are folded to upper
  // case (no other letter is folded); nullptr when none.
  TVEXSQLParam* GetParamByName(std::u16string_view Name) const;

 private:
  std::vector<std::unique_ptr<TVEXSQLParam>> FParamList;
};

// -------------------------------------------------------------------- tokens

enum TTokenType : uint8_t {
  tktNone,  // never scanned; what a read past the end of a command gives
  tktString,
  tktQuotedString,
  tktBracketedString,
  tktInt,
  tktFloat,
  tktReservedWord,
  tktParameter,
  tktLeftParenthesis,
  tktRightParenthesis,
  tktComma,
  tktDot
};

// A set of token types, bit n for type n: what a parser accepts next.
class TTokenTypes {
 public:
  constexpr TTokenTypes() = default;
  constexpr TTokenTypes(std::initializer_list<TTokenType> Types) {
    for (TTokenType t : Types) Bits |= static_cast<uint16_t>(1u << t);
  }
  constexpr bool Contains(TTokenType T) const { return (Bits >> T) & 1u; }
  constexpr bool Empty() const { return Bits == 0; }
  uint16_t Bits = 0;
};

struct TToken {
  TTokenType TokenType = tktNone;
  // The word's id for tktReservedWord, else rwNone.
  TReservedWord ReservedWord = rwNone;
  // Quoted, bracketed and backquoted texts without delimiters and escapes; a
  // named parameter without its colon; a positional one "Param" and its number.
  std::u16string Text;
  // A parameter's value, owned by the lexer that scanned it; nullptr for every
  // other token.
  TVEXVariant* ParamValue = nullptr;
  int32_t LineNum = 0;
  int32_t ColumnNum = 0;
};

struct TSQLCommand {
  std::vector<TToken> Tokens;
  int32_t NumTokens = 0;
  // The reading position, from 0; may run past the last token.
  int32_t CurrentTokenNo = 0;
};

// The names of the token types, "tktNone" to "tktDot".
std::u16string_view TokenTypeName(TTokenType T);

// The id of Word in ReservedWordNames after folding a to z to upper case, or
// -1. "END-EXEC" is found here although the scanner never forms it as a token.
int32_t FindReservedWord(std::u16string_view Word);

// True for a tktReservedWord token whose id is Word; rwNone asks for any
// reserved word.
bool IsReservedWordToken(const TToken& Token, TReservedWord Word);

// --------------------------------------------------------------------- lexer

class TVEXLexer {
 public:
  // Scans SQLScript whole. SQLParams (not owned, may be null) supplies the
  // parameter values; with NoParams ":" and "?" stay plain name tokens.
  // Raises EVEXException:
  //   30059 "Missing symbol ')' at line %d, column %d" (the last "(")
  //   30060 "Unexpected symbol ')' found at line %d, column %d" (the last ")")
  //   30061 "Unterminated string at line %d, column %d" (the opening quote)
  //   30062 "Invalid numeric symbol '%s' at line %d, column %d" (a number
  //         followed directly by a character no number holds)
  //   30358 "Value for parameter '%s' not found"
  // and rtl::EListError for a "?" past the end of the parameter list. The
  // parenthesis checks of a command come before its unterminated-text check.
  TVEXLexer(std::u16string_view SQLScript, const TVEXSQLParams* SQLParams, bool NoParams);
  TVEXLexer(const TVEXLexer&) = delete;
  TVEXLexer& operator=(const TVEXLexer&) = delete;

  // Moves to the next command; false once past the last.
  bool GetNextCommand();
  // The token at the current position. Past the end only TokenType is set (to
  // tktNone), so Token keeps the position of the last token read for an
  // "Unexpected end" message; false.
  bool GetCurrentToken(TToken& Token) const;
  // The token after the current one, without moving. When there is none,
  // TokenType becomes tktNone and Text empty (line and column kept); false.
  bool LookNextToken(TToken& Token) const;
  // LookNextToken, then one step on, also at the end.
  bool GetNextToken(TToken& Token);
  int32_t GetCurrentTokenNo() const;
  bool SetCurrentTokenNo(int32_t TokenNo, TToken& Token);
  // True when TokenNo is a token of the current command.
  bool SetCurrentTokenNo(int32_t TokenNo);
  // Steps on until a token of one of TokenTypes (true) or the end (false).
  bool GetNextSpecifiedToken(TToken& Token, TTokenTypes TokenTypes);
  // An empty command at the end, made current.
  void AddCommand();
  // A copy of Token (its ParamValue still belongs to whoever owns it) at the
  // end of the current command, made current.
  void AddToken(const TToken& Token);
  // Appends token TokenNo of command CommandNo of Source (another lexer) like
  // AddToken, but a parameter's value moves with it: this lexer owns it from
  // then on and Source's token no longer points to it. Lets a statement build
  // a command of its own that outlives nothing of the text's lexer.
  void MoveTokenFrom(TVEXLexer& Source, int32_t CommandNo, int32_t TokenNo);

  // A listing of the commands and tokens for diagnostics.
  std::u16string Test(bool bGenerate, bool bShowDetails) const;

  const std::u16string& SQL() const { return FSQL; }
  int32_t NumCommands() const { return static_cast<int32_t>(Commands.size()); }
  std::vector<TSQLCommand> Commands;
  // The command being read; -1 before the first. Subquery nodes set it to
  // re-parse from a remembered command.
  int32_t CurrentCommandNo = -1;

 private:
  class TScanner;
  TSQLCommand* Current();
  const TSQLCommand* Current() const;

  std::u16string FSQL;
  const TVEXSQLParams* FSQLParams;
  bool FNoParams;
  std::vector<std::unique_ptr<TVEXVariant>> FParamValues;
};

}  // namespace vex
