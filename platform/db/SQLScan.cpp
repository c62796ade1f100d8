#include "db/SQLScan.h"

#include <vector>

#include "db/DataSet.h"
#include "rtl/CodePage.h"

namespace db {

namespace {

enum class TScanKind { Word, Name, Number, Text, Symbol };

struct TScanToken {
  TScanKind Kind;
  std::string Text;  // a quoted name without its quotes
  int32_t Depth;     // parentheses open before the token
};

bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || u >= 0x80;
}

std::vector<TScanToken> Scan(std::string_view SQL) {
  std::vector<TScanToken> tokens;
  const size_t n = SQL.size();
  int32_t depth = 0;
  size_t i = 0;
  while (i < n) {
    const char c = SQL[i];
    if (static_cast<unsigned char>(c) <= ' ') {
      ++i;
    } else if (c == '-' && i + 1 < n && SQL[i + 1] == '-') {
      const size_t end = SQL.find('\n', i);
      i = end == std::string_view::npos ? n : end + 1;
    } else if (c == '/' && i + 1 < n && SQL[i + 1] == '*') {
      const size_t end = SQL.find("*/", i + 2);
      i = end == std::string_view::npos ? n : end + 2;
    } else if (c == '\'' || c == '"' || c == '[' || c == '`') {
      const char close = c == '[' ? ']' : c;
      std::string text;
      size_t j = i + 1;
      while (j < n) {
        if (SQL[j] == close) {
          if (j + 1 < n && SQL[j + 1] == close) {
            text.push_back(close);
            j += 2;
            continue;
          }
          break;
        }
        text.push_back(SQL[j++]);
      }
      tokens.push_back({c == '\'' ? TScanKind::Text : TScanKind::Name, std::move(text), depth});
      i = j < n ? j + 1 : n;
    } else if (IsWordChar(c)) {
      size_t j = i;
      while (j < n && IsWordChar(SQL[j])) ++j;
      const std::string_view word = SQL.substr(i, j - i);
      const bool number = word.find_first_not_of("0123456789") == std::string_view::npos;
      tokens.push_back({number ? TScanKind::Number : TScanKind::Word, std::string(word), depth});
      i = j;
    } else {
      if (c == ')' && depth > 0) --depth;
      tokens.push_back({TScanKind::Symbol, std::string(1, c), depth});
      if (c == '(') ++depth;
      ++i;
    }
  }
  return tokens;
}

bool IsWord(const TScanToken& Token, std::string_view Word) {
  return Token.Kind == TScanKind::Word && rtl::AnsiUpperCase(Token.Text) == Word;
}

bool IsSymbol(const std::vector<TScanToken>& Tokens, size_t At, char Symbol) {
  return At < Tokens.size() && Tokens[At].Kind == TScanKind::Symbol && Tokens[At].Text[0] == Symbol;
}

bool IsNameToken(const std::vector<TScanToken>& Tokens, size_t At) {
  return At < Tokens.size() &&
         (Tokens[At].Kind == TScanKind::Word || Tokens[At].Kind == TScanKind::Name);
}

// A name with its qualifiers ("a.b.c") from At; At moves past it. The parts
// are returned in order; none when At holds no name.
std::vector<std::string> ReadQualifiedName(const std::vector<TScanToken>& Tokens, size_t& At) {
  std::vector<std::string> parts;
  if (!IsNameToken(Tokens, At)) return parts;
  parts.push_back(Tokens[At++].Text);
  while (IsSymbol(Tokens, At, '.') && IsNameToken(Tokens, At + 1)) {
    parts.push_back(Tokens[At + 1].Text);
    At += 2;
  }
  return parts;
}

// The position of the first top-level word Word, or Tokens.size().
size_t FindTopLevelWord(const std::vector<TScanToken>& Tokens, std::string_view Word,
                        size_t From = 0) {
  for (size_t i = From; i < Tokens.size(); ++i)
    if (Tokens[i].Depth == 0 && IsWord(Tokens[i], Word)) return i;
  return Tokens.size();
}

bool IsJoinWord(const TScanToken& Token) {
  for (std::string_view w : {"JOIN", "INNER", "LEFT", "RIGHT", "FULL", "CROSS", "NATURAL"})
    if (IsWord(Token, w)) return true;
  return false;
}

}  // namespace

std::string GetTableNameFromSQL(std::string_view SQL) {
  const std::vector<TScanToken> tokens = Scan(SQL);
  size_t at = FindTopLevelWord(tokens, "FROM");
  if (at == tokens.size()) return {};
  ++at;
  const std::vector<std::string> parts = ReadQualifiedName(tokens, at);
  if (parts.empty()) return {};
  // An alias, with or without AS, may follow the table.
  if (at < tokens.size() && IsWord(tokens[at], "AS")) ++at;
  if (at < tokens.size() && tokens[at].Kind != TScanKind::Symbol && !IsJoinWord(tokens[at])) {
    static constexpr std::string_view kClauseWords[] = {"WHERE", "GROUP",  "HAVING", "ORDER",
                                                        "UNION", "EXCEPT", "MINUS",  "INTERSECT"};
    bool clause = false;
    for (std::string_view w : kClauseWords) clause = clause || IsWord(tokens[at], w);
    if (!clause) ++at;
  }
  if (IsSymbol(tokens, at, ',') || (at < tokens.size() && IsJoinWord(tokens[at]))) return {};
  std::string name = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) name += "." + parts[i];
  return name;
}

std::unique_ptr<TIndexDef> GetIndexForOrderBy(std::string_view SQL, TDataSet* DataSet) {
  const std::vector<TScanToken> tokens = Scan(SQL);
  size_t at = 0;
  for (;;) {
    at = FindTopLevelWord(tokens, "ORDER", at);
    if (at == tokens.size()) return nullptr;
    if (at + 1 < tokens.size() && IsWord(tokens[at + 1], "BY")) break;
    ++at;
  }
  at += 2;
  std::string fields, descFields;
  for (;;) {
    std::string name;
    if (at < tokens.size() && tokens[at].Kind == TScanKind::Number) {
      const int64_t number = std::stoll(tokens[at].Text.substr(0, 9));
      if (DataSet == nullptr || number < 1 || number > DataSet->Fields().Count()) return nullptr;
      name = DataSet->Fields()[static_cast<int32_t>(number - 1)]->FieldName();
      ++at;
    } else {
      const std::vector<std::string> parts = ReadQualifiedName(tokens, at);
      if (parts.empty()) return nullptr;
      name = parts.back();
    }
    bool descending = false;
    if (at < tokens.size() && IsWord(tokens[at], "DESC")) {
      descending = true;
      ++at;
    } else if (at < tokens.size() && IsWord(tokens[at], "ASC")) {
      ++at;
    }
    fields += fields.empty() ? name : ";" + name;
    if (descending) descFields += descFields.empty() ? name : ";" + name;
    if (IsSymbol(tokens, at, ',')) {
      ++at;
      continue;
    }
    // The list ends at the end of the text or of the statement; anything else
    // makes the item an expression.
    if (at < tokens.size() && !IsSymbol(tokens, at, ';')) return nullptr;
    break;
  }
  auto def = std::make_unique<TIndexDef>("", fields, TIndexOptions{});
  def->SetDescFields(descFields);
  return def;
}

}  // namespace db
