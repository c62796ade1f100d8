#include "db/Params.h"

#include "db/Fields.h"
#include "rtl/CodePage.h"
#include "rtl/Format.h"

namespace db {

namespace {
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && rtl::AnsiUpperCase(a) == rtl::AnsiUpperCase(b);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Characters that end a name token of the SQL lexer.
bool EndsName(char c) {
  switch (c) {
    case '>':
    case '<':
    case '=':
    case '(':
    case ')':
    case ',':
    case '/':
    case '*':
    case ':':
    case '?':
    case '|':
    case '.':
    case '+':
    case '-':
    case ';':
      return true;
    default:
      return IsBlank(c);
  }
}
}  // namespace

// ========================================================================= TParam

void TParam::Set(TFieldType Type, rtl::Variant Value) {
  FDataType = Type;
  FData = std::move(Value);
  FBound = true;
  if (FParamType == ptUnknown) FParamType = ptInput;
}

void TParam::SetValue(const rtl::Variant& Value) {
  if (FDataType == ftUnknown) {
    switch (Value.VarType()) {
      case rtl::varSmallint:
      case rtl::varShortInt:
      case rtl::varByte:
        FDataType = ftSmallint;
        break;
      case rtl::varWord:
        FDataType = ftWord;
        break;
      case rtl::varInteger:
        FDataType = ftInteger;
        break;
      case rtl::varLongWord:
      case rtl::varInt64:
      case rtl::varUInt64:
        FDataType = ftLargeint;
        break;
      case rtl::varCurrency:
        FDataType = ftBCD;
        break;
      case rtl::varSingle:
      case rtl::varDouble:
        FDataType = ftFloat;
        break;
      case rtl::varDate:
        FDataType = ftDateTime;
        break;
      case rtl::varBoolean:
        FDataType = ftBoolean;
        break;
      case rtl::varString:
        FDataType = ftString;
        break;
      case rtl::varOleStr:
      case rtl::varUString:
        FDataType = ftWideString;
        break;
      default:
        break;
    }
  }
  FData = Value;
  FBound = !Value.IsEmpty();
  if (FParamType == ptUnknown) FParamType = ptInput;
}

void TParam::Clear() {
  FData = rtl::Variant::Null();
  FBound = false;
}

std::string TParam::AsString() const { return IsNull() ? std::string() : FData.AsString(); }
std::u16string TParam::AsWideString() const {
  return IsNull() ? std::u16string() : FData.AsWideString();
}
int32_t TParam::AsInteger() const { return IsNull() ? 0 : FData.AsInteger(); }
int64_t TParam::AsLargeInt() const { return IsNull() ? 0 : FData.AsInt64(); }
double TParam::AsFloat() const { return IsNull() ? 0 : FData.AsDouble(); }
rtl::Currency TParam::AsCurrency() const { return IsNull() ? rtl::Currency{} : FData.AsCurrency(); }
bool TParam::AsBoolean() const { return !IsNull() && FData.AsBoolean(); }
double TParam::AsDateTime() const { return IsNull() ? 0 : FData.AsDateTime(); }

void TParam::SetAsString(const std::string& Value) { Set(ftString, rtl::Variant(Value)); }
void TParam::SetAsWideString(const std::u16string& Value) {
  Set(ftWideString, rtl::Variant(Value));
}
void TParam::SetAsInteger(int32_t Value) { Set(ftInteger, rtl::Variant(Value)); }
void TParam::SetAsSmallInt(int32_t Value) { Set(ftSmallint, rtl::Variant(Value)); }
void TParam::SetAsWord(int32_t Value) { Set(ftWord, rtl::Variant(Value)); }
void TParam::SetAsLargeInt(int64_t Value) { Set(ftLargeint, rtl::Variant(Value)); }
void TParam::SetAsFloat(double Value) { Set(ftFloat, rtl::Variant(Value)); }
void TParam::SetAsCurrency(rtl::Currency Value) { Set(ftCurrency, rtl::Variant(Value)); }
void TParam::SetAsBoolean(bool Value) { Set(ftBoolean, rtl::Variant(Value)); }
void TParam::SetAsDateTime(double Value) { Set(ftDateTime, rtl::Variant::FromDate(Value)); }
void TParam::SetAsDate(double Value) { Set(ftDate, rtl::Variant::FromDate(Value)); }
void TParam::SetAsTime(double Value) { Set(ftTime, rtl::Variant::FromDate(Value)); }
void TParam::SetAsMemo(const std::string& Value) { Set(ftMemo, rtl::Variant(Value)); }
void TParam::SetAsBlob(const std::string& Value) { Set(ftBlob, rtl::Variant(Value)); }

void TParam::Assign(const TParam& Source) {
  if (&Source == this) return;
  FName = Source.FName;
  FDataType = Source.FDataType;
  FParamType = Source.FParamType;
  FBound = Source.FBound;
  FData = Source.FData;
}

void TParam::AssignField(TField* Field) {
  if (Field == nullptr) return;
  FName = Field->FieldName();
  AssignFieldValue(Field, Field->AsVariant());
}

void TParam::AssignFieldValue(TField* Field, const rtl::Variant& Value) {
  if (Field == nullptr) return;
  FDataType = Field->DataType();
  if (Value.IsNull() || Value.IsEmpty())
    FData = rtl::Variant::Null();
  else
    FData = Value;
  FBound = true;
  if (FParamType == ptUnknown) FParamType = ptInput;
}

// ======================================================================== TParams

TParam* TParams::AddParam() {
  FItems.push_back(std::make_unique<TParam>(this));
  return FItems.back().get();
}

TParam* TParams::CreateParam(TFieldType DataType, const std::string& Name, TParamType ParamType) {
  TParam* p = AddParam();
  p->SetName(Name);
  p->SetDataType(DataType);
  p->SetParamType(ParamType);
  return p;
}

void TParams::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count())
    throw rtl::EListError(rtl::Format("List index out of bounds (%d)", Index));
  FItems.erase(FItems.begin() + Index);
}

TParam* TParams::FindParam(std::string_view Name) const {
  for (const auto& p : FItems)
    if (SameName(p->Name(), Name)) return p.get();
  return nullptr;
}

TParam* TParams::ParamByName(std::string_view Name) const {
  TParam* p = FindParam(Name);
  if (p == nullptr) DatabaseError(rtl::Format(msg::ParameterNotFound, Name), FOwner);
  return p;
}

void TParams::Assign(const TParams& Source) {
  if (&Source == this) return;
  FItems.clear();
  for (const auto& p : Source.FItems) AddParam()->Assign(*p);
}

void TParams::AssignValues(const TParams& Source) {
  for (const auto& p : Source.FItems)
    if (TParam* mine = FindParam(p->Name()); mine != nullptr && mine != p.get()) mine->Assign(*p);
}

std::string TParams::ParseSQL(std::string_view SQL, bool DoCreate) {
  if (DoCreate) Clear();
  std::string out;
  out.reserve(SQL.size());
  const size_t n = SQL.size();
  bool tokenOpen = false;
  size_t i = 0;
  auto closer = [](char open) { return open == '[' ? ']' : open; };
  // Copies or reads a quoted text whose opening character is at `at`; returns
  // the position after it and the text between the delimiters.
  auto quoted = [&](size_t at, std::string* text) {
    char close = closer(SQL[at]);
    bool backquote = SQL[at] == '`';
    size_t j = at + 1;
    while (j < n) {
      if (backquote && SQL[j] == '\\' && j + 1 < n) {
        if (text) text->push_back(SQL[j + 1]);
        j += 2;
        continue;
      }
      if (SQL[j] == close) {
        if (j + 1 < n && SQL[j + 1] == close) {
          if (text) text->push_back(close);
          j += 2;
          continue;
        }
        return j + 1;
      }
      if (text) text->push_back(SQL[j]);
      ++j;
    }
    return n;
  };
  auto addName = [&](const std::string& name) {
    out.push_back('?');
    if (DoCreate && FindParam(name) == nullptr) {
      TParam* p = AddParam();
      p->SetName(name);
      p->SetParamType(ptInput);
    }
  };
  while (i < n) {
    char c = SQL[i];
    if (c == '-' && i + 1 < n && SQL[i + 1] == '-') {
      size_t j = SQL.find('\n', i);
      j = j == std::string_view::npos ? n : j + 1;
      out.append(SQL.substr(i, j - i));
      i = j;
      tokenOpen = false;
      continue;
    }
    if (c == '/' && i + 1 < n && SQL[i + 1] == '*') {
      size_t j = SQL.find("*/", i + 2);
      j = j == std::string_view::npos ? n : j + 2;
      out.append(SQL.substr(i, j - i));
      i = j;
      tokenOpen = false;
      continue;
    }
    if (IsBlank(c)) {
      out.push_back(c);
      ++i;
      tokenOpen = false;
      continue;
    }
    if (!tokenOpen && (c == '\'' || c == '"' || c == '[' || c == '`')) {
      size_t j = quoted(i, nullptr);
      out.append(SQL.substr(i, j - i));
      i = j;
      tokenOpen = false;
      continue;
    }
    if (c == ':') {
      if (i + 1 < n && (SQL[i + 1] == '"' || SQL[i + 1] == '\'' || SQL[i + 1] == '[')) {
        std::string name;
        size_t j = quoted(i + 1, &name);
        addName(name);
        i = j;
      } else {
        size_t j = i + 1;
        while (j < n && !EndsName(SQL[j])) ++j;
        if (j == i + 1) {
          out.push_back(c);
          ++i;
        } else {
          addName(std::string(SQL.substr(i + 1, j - i - 1)));
          i = j;
        }
      }
      tokenOpen = false;
      continue;
    }
    out.push_back(c);
    ++i;
    tokenOpen = !EndsName(c);
  }
  return out;
}

}  // namespace db
