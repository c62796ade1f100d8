#include "sql/VEXLexer.h"

#include <algorithm>
#include <array>
#include <string>

#include "foundation/VEXExcept.h"
#include "rtl/Lists.h"

namespace vex {

namespace {

constexpr std::array<std::u16string_view, 12> kTokenTypeNames = {u"tktNone",
                                                                 u"tktString",
                                                                 u"tktQuotedString",
                                                                 u"tktBracketedString",
                                                                 u"tktInt",
                                                                 u"tktFloat",
                                                                 u"tktReservedWord",
                                                                 u"tktParameter",
                                                                 u"tktLeftParenthesis",
                                                                 u"tktRightParenthesis",
                                                                 u"tktComma",
                                                                 u"tktDot"};

constexpr std::u16string_view kLineBreak = u"\r\n";

char16_t UpperAZ(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

bool EqualFoldingAZ(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAZ(a[i]) != UpperAZ(b[i])) return false;
  return true;
}

bool IsWhiteSpace(char16_t c) { return c == u'\t' || c == u'\r' || c == u'\n' || c == u' '; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::u16string NumberText(int32_t n) {
  std::u16string s;
  for (char c : std::to_string(n)) s += static_cast<char16_t>(c);
  return s;
}

}  // namespace

// ---------------------------------------------------------------- parameters

TVEXSQLParam& TVEXSQLParams::GetValue(int32_t Index) const {
  if (Index < 0 || Index >= Count()) rtl::RaiseListIndexError(Index);
  return *FParamList[static_cast<size_t>(Index)];
}

void TVEXSQLParams::SetValue(int32_t Index, std::unique_ptr<TVEXSQLParam> Value) {
  if (Index < 0 || Index >= Count()) rtl::RaiseListIndexError(Index);
  FParamList[static_cast<size_t>(Index)] = std::move(Value);
}

TVEXSQLParam& TVEXSQLParams::AddCreated() {
  FParamList.push_back(std::make_unique<TVEXSQLParam>());
  return *FParamList.back();
}

TVEXSQLParam* TVEXSQLParams::GetParamByName(std::u16string_view Name) const {
  for (const auto& p : FParamList)
    if (EqualFoldingAZ(p->Name, Name)) return p.get();
  return nullptr;
}

// -------------------------------------------------------------------- tokens

std::u16string_view TokenTypeName(TTokenType T) {
  return static_cast<size_t>(T) < kTokenTypeNames.size() ? kTokenTypeNames[T]
                                                         : std::u16string_view();
}

int32_t FindReservedWord(std::u16string_view Word) {
  for (int32_t id = 0; id < ReservedWordCount; ++id)
    if (EqualFoldingAZ(ReservedWordNames[static_cast<size_t>(id)], Word)) return id;
  return -1;
}

bool IsReservedWordToken(const TToken& Token, TReservedWord Word) {
  return Token.TokenType == tktReservedWord && (Token.ReservedWord == Word || Word == rwNone);
}

// ------------------------------------------------------------------ scanning

// One pass over the text. Invariants between characters:
//  1. FTokenOpen means the last token of the last command is still growing;
//     only names (tktString), numbers (tktInt) and a lone dot (tktDot) stay
//     open, every other kind is finished where it starts.
//  2. FCommandOpen means the last command takes the next token; FDepth, the
//     last "(" and ")" and the unterminated-text mark belong to that command.
//  3. FLine/FColumn are the position of S[FPos].
class TVEXLexer::TScanner {
 public:
  explicit TScanner(TVEXLexer& Lex) : L(Lex), S(Lex.FSQL) {}

  void Run() {
    while (FPos < S.size()) {
      const char16_t c = S[FPos];
      if (c == u';') {
        EndCommand();
        Advance(c);
      } else if (c == u'-' && Next() == u'-') {
        LineComment();
      } else if (c == u'/' && Next() == u'*') {
        BlockComment();
      } else {
        Character(c);
      }
    }
    EndCommand();
  }

 private:
  char16_t Next() const { return FPos + 1 < S.size() ? S[FPos + 1] : char16_t(0); }

  // Moves past one character of the text, counting lines and columns.
  void Advance(char16_t c) {
    if (c == u'\n') {
      ++FLine;
      FColumn = 1;
    } else if (c != u'\r') {
      ++FColumn;
    }
    ++FPos;
  }

  TToken& Open() { return L.Commands.back().Tokens.back(); }

  void LineComment() {
    // A comment separates what stands on either side of it.
    FinishToken();
    ++FLine;
    FColumn = 1;
    while (FPos < S.size() && S[FPos] != u'\n') ++FPos;
    if (FPos < S.size()) ++FPos;
    FPrev = u' ';
  }

  void BlockComment() {
    FinishToken();
    FPos += 2;
    FColumn += 2;
    while (FPos < S.size()) {
      if (S[FPos] == u'*' && Next() == u'/') {
        FPos += 2;
        FColumn += 2;
        break;
      }
      Advance(S[FPos]);
    }
    FPrev = u' ';
  }

  bool IsDelimiter(char16_t c) const {
    if (IsWhiteSpace(c)) return false;
    if (!FTokenOpen) return true;
    if (std::u16string_view(u"><=(),/*:?|").find(c) != std::u16string_view::npos) return true;
    const TTokenType t = L.Commands.back().Tokens.back().TokenType;
    if (c == u'.' && t != tktInt) return true;
    if (t == tktDot && !IsDigit(c)) return true;
    if ((c == u'+' || c == u'-') && (t == tktString || (t == tktInt && UpperAZ(FPrev) != u'E')))
      return true;
    return false;
  }

  void Character(char16_t c) {
    const bool white = IsWhiteSpace(c);
    const bool delimiter = IsDelimiter(c);
    if (FTokenOpen && (white || delimiter)) FinishToken();
    if (delimiter) {
      if (StartToken(c)) return;  // a quoted text moved the position itself
    } else if (!white && FTokenOpen) {
      TToken& t = Open();
      if ((t.TokenType == tktInt || t.TokenType == tktFloat) && !IsDigit(c) && c != u'.' &&
          c != u'E' && c != u'e' && c != u'+' && c != u'-')
        throw EVEXException(30062, "Invalid numeric symbol '%s' at line %d, column %d", c, FLine,
                            FColumn);
      if (t.TokenType == tktDot && IsDigit(c)) t.TokenType = tktInt;
      t.Text += c;
    }
    Advance(c);
    if (white) FinishToken();
    FPrev = c;
  }

  // Starts a token with c; true when a quoted text was read whole (the
  // position is then past it).
  bool StartToken(char16_t c) {
    if (!FCommandOpen) {
      L.Commands.emplace_back();
      FCommandOpen = true;
      FDepth = 0;
      FUnterminated = false;
    }
    TSQLCommand& cmd = L.Commands.back();
    TToken tok;
    tok.Text = std::u16string(1, c);
    tok.LineNum = FLine;
    tok.ColumnNum = FColumn;
    cmd.Tokens.push_back(std::move(tok));
    cmd.NumTokens = static_cast<int32_t>(cmd.Tokens.size());
    FTokenOpen = true;
    TToken& t = cmd.Tokens.back();

    const char16_t n = Next();
    if (c == u'\'' || c == u'"' || c == u'[' || c == u'`' ||
        (c == u':' && (n == u'"' || n == u'\'' || n == u'['))) {
      QuotedText(c);
      return true;
    }
    switch (c) {
      case u'(':
        t.TokenType = tktLeftParenthesis;
        ++FDepth;
        FOpenLine = FLine;
        FOpenColumn = FColumn;
        FinishToken();
        return false;
      case u')':
        t.TokenType = tktRightParenthesis;
        --FDepth;
        FCloseLine = FLine;
        FCloseColumn = FColumn;
        FinishToken();
        return false;
      case u'.':
        t.TokenType = tktDot;
        return false;
      case u',':
        t.TokenType = tktComma;
        FinishToken();
        return false;
      default:
        t.TokenType = IsDigit(c) ? tktInt : tktString;
        break;
    }
    switch (c) {
      case u'-':
      case u'+':
      case u'*':
      case u'/':
      case u'=':
        FinishToken();
        break;
      case u'|':
      case u'<':
      case u'>':
        if ((c == u'|' && n == u'|') || (c == u'<' && (n == u'=' || n == u'>')) ||
            (c == u'>' && n == u'=')) {
          t.Text += n;
          ++FPos;
          ++FColumn;
        }
        FinishToken();
        break;
      default:
        break;
    }
    return false;
  }

  // Reads a quoted, bracketed or backquoted text, or a colon before one, from
  // FPos to past its closing character.
  void QuotedText(char16_t c) {
    TToken& t = Open();
    char16_t open = c;
    t.Text.clear();
    if (c == u':') {
      t.Text = u":";
      open = Next();
      Advance(c);
      t.TokenType = tktString;
    } else {
      t.TokenType = c == u'\'' || c == u'"' ? tktQuotedString
                    : c == u'['             ? tktBracketedString
                                            : tktString;
    }
    const char16_t close = open == u'[' ? u']' : open;
    const bool backquoted = open == u'`';
    FQuoteLine = t.LineNum;
    FQuoteColumn = t.ColumnNum;
    FUnterminated = true;
    Advance(open);
    while (FPos < S.size()) {
      const char16_t ch = S[FPos];
      if (backquoted && ch == u'\\') {
        Advance(ch);
        if (FPos >= S.size()) break;
        t.Text += S[FPos];
        Advance(S[FPos]);
      } else if (ch == close && Next() == close) {
        t.Text += close;
        FPos += 2;
        FColumn += 2;
      } else if (ch == close) {
        Advance(ch);
        FUnterminated = false;
        break;
      } else {
        t.Text += ch;
        Advance(ch);
      }
    }
    FPrev = S[FPos - 1];
    FinishToken();
    if (close == u']' || close == u'`') Open().ReservedWord = rwNone;
  }

  void FinishToken() {
    if (!FTokenOpen) return;
    FTokenOpen = false;
    TToken& t = Open();
    if (t.TokenType == tktInt && t.Text.find_first_of(u".eE") != std::u16string::npos) {
      t.TokenType = tktFloat;
      return;
    }
    if (t.TokenType != tktString) return;
    if (!L.FNoParams && !t.Text.empty() && (t.Text[0] == u':' || t.Text[0] == u'?')) {
      t.TokenType = tktParameter;
      // The command fails with 30061 at its end; its half-read name is no
      // parameter to look up.
      if (FUnterminated) return;
      Parameter(t);
      return;
    }
    const int32_t id = FindReservedWord(t.Text);
    if (id >= 0) {
      t.ReservedWord = static_cast<TReservedWord>(id);
      t.TokenType = tktReservedWord;
    }
  }

  void Parameter(TToken& t) {
    const TVEXVariant* value = nullptr;
    std::u16string name;
    if (t.Text[0] == u':') {
      name = t.Text.substr(1);
      t.Text = name;
      if (L.FSQLParams) value = L.FSQLParams->GetParamByName(name);
    } else if (L.FSQLParams) {
      value = &L.FSQLParams->GetValue(FPositional);
      ++FPositional;
      t.Text = u"Param" + NumberText(FPositional);
    }
    if (!value) throw EVEXException(30358, "Value for parameter '%s' not found", name);
    auto copy = std::make_unique<TVEXVariant>(bftUnknown);
    copy->Assign(*value, true);
    t.ParamValue = copy.get();
    L.FParamValues.push_back(std::move(copy));
  }

  void EndCommand() {
    FinishToken();
    FPrev = u' ';
    if (!FCommandOpen) return;
    FCommandOpen = false;
    if (FDepth > 0)
      throw EVEXException(30059, "Missing symbol ')' at line %d, column %d", FOpenLine,
                          FOpenColumn);
    if (FDepth < 0)
      throw EVEXException(30060, "Unexpected symbol ')' found at line %d, column %d", FCloseLine,
                          FCloseColumn);
    if (FUnterminated)
      throw EVEXException(30061, "Unterminated string at line %d, column %d", FQuoteLine,
                          FQuoteColumn);
  }

  TVEXLexer& L;
  const std::u16string& S;
  size_t FPos = 0;
  int32_t FLine = 1;
  int32_t FColumn = 1;
  char16_t FPrev = u' ';
  bool FTokenOpen = false;
  bool FCommandOpen = false;
  int32_t FDepth = 0;
  int32_t FOpenLine = 0, FOpenColumn = 0;
  int32_t FCloseLine = 0, FCloseColumn = 0;
  int32_t FQuoteLine = 0, FQuoteColumn = 0;
  bool FUnterminated = false;
  int32_t FPositional = 0;
};

// --------------------------------------------------------------------- lexer

TVEXLexer::TVEXLexer(std::u16string_view SQLScript, const TVEXSQLParams* SQLParams, bool NoParams)
    : FSQL(SQLScript), FSQLParams(SQLParams), FNoParams(NoParams) {
  TScanner(*this).Run();
  CurrentCommandNo = -1;
  for (TSQLCommand& c : Commands) c.CurrentTokenNo = 0;
}

TSQLCommand* TVEXLexer::Current() {
  if (CurrentCommandNo < 0 || CurrentCommandNo >= NumCommands()) return nullptr;
  return &Commands[static_cast<size_t>(CurrentCommandNo)];
}

const TSQLCommand* TVEXLexer::Current() const { return const_cast<TVEXLexer*>(this)->Current(); }

bool TVEXLexer::GetNextCommand() {
  if (CurrentCommandNo < NumCommands()) ++CurrentCommandNo;
  return CurrentCommandNo < NumCommands();
}

bool TVEXLexer::GetCurrentToken(TToken& Token) const {
  const TSQLCommand* c = Current();
  if (c && c->CurrentTokenNo >= 0 && c->CurrentTokenNo < c->NumTokens) {
    Token = c->Tokens[static_cast<size_t>(c->CurrentTokenNo)];
    return true;
  }
  Token.TokenType = tktNone;
  return false;
}

bool TVEXLexer::LookNextToken(TToken& Token) const {
  const TSQLCommand* c = Current();
  if (c && c->CurrentTokenNo + 1 >= 0 && c->CurrentTokenNo + 1 < c->NumTokens) {
    Token = c->Tokens[static_cast<size_t>(c->CurrentTokenNo + 1)];
    return true;
  }
  Token.TokenType = tktNone;
  Token.Text.clear();
  return false;
}

bool TVEXLexer::GetNextToken(TToken& Token) {
  const bool found = LookNextToken(Token);
  if (TSQLCommand* c = Current()) ++c->CurrentTokenNo;
  return found;
}

int32_t TVEXLexer::GetCurrentTokenNo() const {
  const TSQLCommand* c = Current();
  return c ? c->CurrentTokenNo : 0;
}

bool TVEXLexer::SetCurrentTokenNo(int32_t TokenNo, TToken& Token) {
  SetCurrentTokenNo(TokenNo);
  return GetCurrentToken(Token);
}

bool TVEXLexer::SetCurrentTokenNo(int32_t TokenNo) {
  TSQLCommand* c = Current();
  if (!c) return false;
  c->CurrentTokenNo = TokenNo;
  return TokenNo >= 0 && TokenNo < c->NumTokens;
}

bool TVEXLexer::GetNextSpecifiedToken(TToken& Token, TTokenTypes TokenTypes) {
  while (GetNextToken(Token))
    if (TokenTypes.Contains(Token.TokenType)) return true;
  return false;
}

void TVEXLexer::AddCommand() {
  Commands.emplace_back();
  CurrentCommandNo = NumCommands() - 1;
}

void TVEXLexer::AddToken(const TToken& Token) {
  if (Commands.empty()) AddCommand();
  TSQLCommand& c = Commands[static_cast<size_t>(CurrentCommandNo)];
  c.Tokens.push_back(Token);
  c.NumTokens = static_cast<int32_t>(c.Tokens.size());
  c.CurrentTokenNo = c.NumTokens - 1;
}

void TVEXLexer::MoveTokenFrom(TVEXLexer& Source, int32_t CommandNo, int32_t TokenNo) {
  TToken& from =
      Source.Commands.at(static_cast<size_t>(CommandNo)).Tokens.at(static_cast<size_t>(TokenNo));
  TToken token = from;
  if (from.ParamValue != nullptr) {
    auto it = std::find_if(Source.FParamValues.begin(), Source.FParamValues.end(),
                           [&](const std::unique_ptr<TVEXVariant>& v) {
                             return v.get() == from.ParamValue;
                           });
    if (it != Source.FParamValues.end()) {
      FParamValues.push_back(std::move(*it));
      Source.FParamValues.erase(it);
    } else {
      // A value the source does not own (a token it was handed): this lexer
      // keeps a copy of its own.
      auto copy = std::make_unique<TVEXVariant>(bftUnknown);
      copy->Assign(*from.ParamValue, true);
      token.ParamValue = copy.get();
      FParamValues.push_back(std::move(copy));
    }
    from.ParamValue = nullptr;
  }
  AddToken(token);
}

std::u16string TVEXLexer::Test(bool /*bGenerate*/, bool bShowDetails) const {
  std::u16string out = u"Number of commands: " + NumberText(NumCommands());
  for (int32_t i = 0; i < NumCommands(); ++i) {
    out += kLineBreak;
    out += u"Command #" + NumberText(i + 1) + u":";
    out += kLineBreak;
    for (const TToken& t : Commands[static_cast<size_t>(i)].Tokens) {
      out += t.Text;
      out += kLineBreak;
      if (!bShowDetails) continue;
      out += u"Type = ";
      out += TokenTypeName(t.TokenType);
      out += kLineBreak;
      out += u"ReservedWord = ";
      out += t.ReservedWord == rwNone ? std::u16string_view(u"None")
                                      : ReservedWordNames[t.ReservedWord];
      out += kLineBreak;
      out += u"Line = " + NumberText(t.LineNum);
      out += kLineBreak;
      out += u"Column = " + NumberText(t.ColumnNum);
      out += kLineBreak;
      out += kLineBreak;
    }
  }
  return out;
}

}  // namespace vex
