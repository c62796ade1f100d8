#include "foundation/VEXConverts.h"

#include <cmath>
#include <limits>

#include "db/DataSet.h"
#include "db/Fields.h"
#include "foundation/VEXConst.h"
#include "foundation/VEXExcept.h"
#include "rtl/DateTime.h"
#include "rtl/Exception.h"
#include "text/Text.h"

namespace vex {

using namespace db;

// Lookups take the first matching row, so the order of rows is part of the
// mapping (ftWideString is aftWideChar, bftDouble is "FLOAT", ftBCD is
// aftDouble).
const std::array<TSQLFieldType, 62> SQLFieldTypes = {{
    {"CHAR", aftChar, bftChar, ftFixedChar},
    {"FIXEDCHAR", aftChar, bftChar, ftFixedChar},
    {"STRING", aftString, bftVarchar, ftString},
    {"VARCHAR", aftString, bftVarchar, ftString},
    {"VARCHAR2", aftString, bftVarchar, ftString},
    {"WIDECHAR", aftWideChar, bftWideChar, ftWideString},
    {"FIXEDWIDECHAR", aftWideChar, bftWideChar, ftWideString},
    {"WIDESTRING", aftWideString, bftWideVarchar, ftWideString},
    {"WIDEVARCHAR", aftWideString, bftWideVarchar, ftWideString},
    {"SMALLINT", aftSmallint, bftSignedInt16, ftSmallint},
    {"SIGNEDINT16", aftSmallint, bftSignedInt16, ftSmallint},
    {"SHORTINT", aftShortint, bftSignedInt8, ftSmallint},
    {"SIGNEDINT8", aftShortint, bftSignedInt8, ftSmallint},
    {"INTEGER", aftInteger, bftSignedInt32, ftInteger},
    {"SIGNEDINT32", aftInteger, bftSignedInt32, ftInteger},
    {"LARGEINT", aftLargeint, bftSignedInt64, ftLargeint},
    {"INT64", aftLargeint, bftSignedInt64, ftLargeint},
    {"SIGNEDINT64", aftLargeint, bftSignedInt64, ftLargeint},
    {"WORD", aftWord, bftUnsignedInt16, ftWord},
    {"UNSIGNEDINT16", aftWord, bftUnsignedInt16, ftWord},
    {"BYTE", aftByte, bftUnsignedInt8, ftWord},
    {"UNSIGNEDINT8", aftByte, bftUnsignedInt8, ftWord},
    {"CARDINAL", aftCardinal, bftUnsignedInt32, ftLargeint},
    {"UNSIGNEDINT32", aftCardinal, bftUnsignedInt32, ftLargeint},
    {"AUTOINC", aftAutoInc, bftSignedInt32, ftAutoInc},
    {"AUTOINCSHORTINT", aftAutoIncShortint, bftSignedInt8, ftAutoInc},
    {"AUTOINCSMALLINT", aftAutoIncSmallint, bftSignedInt16, ftAutoInc},
    {"AUTOINCINTEGER", aftAutoIncInteger, bftSignedInt32, ftAutoInc},
    {"AUTOINCLARGEINT", aftAutoIncLargeint, bftSignedInt64, ftLargeint},
    {"AUTOINCBYTE", aftAutoIncByte, bftUnsignedInt8, ftAutoInc},
    {"AUTOINCWORD", aftAutoIncWord, bftUnsignedInt16, ftAutoInc},
    {"AUTOINCCARDINAL", aftAutoIncCardinal, bftUnsignedInt32, ftAutoInc},
    {"FLOAT", aftDouble, bftDouble, ftFloat},
    {"FLOAT", aftDouble, bftDouble, ftBCD},
    {"SINGLE", aftSingle, bftSingle, ftFloat},
    {"DOUBLE", aftDouble, bftDouble, ftFloat},
    {"EXTENDED", aftExtended, bftExtended, ftFloat},
    {"LOGICAL", aftBoolean, bftLogical, ftBoolean},
    {"BOOLEAN", aftBoolean, bftLogical, ftBoolean},
    {"BOOL", aftBoolean, bftLogical, ftBoolean},
    {"BIT", aftBoolean, bftLogical, ftBoolean},
    {"CURRENCY", aftCurrency, bftCurrency, ftCurrency},
    {"MONEY", aftCurrency, bftCurrency, ftCurrency},
    {"DATE", aftDate, bftDate, ftDate},
    {"TIME", aftTime, bftTime, ftTime},
    {"DATETIME", aftDateTime, bftDateTime, ftDateTime},
    {"TIMESTAMP", aftTimeStamp, bftDateTime, ftTimeStamp},
    {"BYTES", aftBytes, bftBytes, ftBytes},
    {"VARBYTES", aftVarBytes, bftVarBytes, ftVarBytes},
    {"BLOB", aftBlob, bftBlob, ftBlob},
    {"BLOB", aftBlob, bftBlob, ftParadoxOle},
    {"BLOB", aftBlob, bftBlob, ftTypedBinary},
    {"BLOB", aftBlob, bftBlob, ftDBaseOle},
    {"BLOB", aftBlob, bftBlob, ftOraBlob},
    {"BLOB", aftBlob, bftBlob, ftOraClob},
    {"GRAPHIC", aftGraphic, bftBlob, ftGraphic},
    {"MEMO", aftMemo, bftClob, ftMemo},
    {"CLOB", aftMemo, bftClob, ftMemo},
    {"FORMATTEDMEMO", aftFormattedMemo, bftClob, ftFmtMemo},
    {"WIDEMEMO", aftWideMemo, bftWideClob, ftWideMemo},
    {"WIDECLOB", aftWideMemo, bftWideClob, ftWideMemo},
    {"GUID", aftGuid, bftChar, ftGuid},
}};

namespace {

constexpr std::string_view kUnknownSQLName = "Unknown";

template <class Pred>
const TSQLFieldType* FirstRow(Pred matches) {
  for (const TSQLFieldType& row : SQLFieldTypes) {
    if (matches(row)) return &row;
  }
  return nullptr;
}

}  // namespace

TVEXBaseFieldType AdvancedToBaseFieldType(TVEXAdvancedFieldType advancedFieldType) {
  const auto* row =
      FirstRow([&](const TSQLFieldType& r) { return r.AdvancedFieldType == advancedFieldType; });
  return row ? row->BaseFieldType : bftUnknown;
}

TVEXAdvancedFieldType BaseToAdvancedFieldType(TVEXBaseFieldType baseFieldType) {
  const auto* row =
      FirstRow([&](const TSQLFieldType& r) { return r.BaseFieldType == baseFieldType; });
  return row ? row->AdvancedFieldType : aftUnknown;
}

TVEXAdvancedFieldType FieldTypeToAdvancedFieldType(db::TFieldType fieldType) {
  const auto* row = FirstRow([&](const TSQLFieldType& r) { return r.FieldType == fieldType; });
  if (row == nullptr) {
    throw EVEXException(30289, sUnknownDataType, std::to_string(static_cast<int>(fieldType)));
  }
  return row->AdvancedFieldType;
}

db::TFieldType AdvancedToFieldType(TVEXAdvancedFieldType advancedFieldType) {
  const auto* row =
      FirstRow([&](const TSQLFieldType& r) { return r.AdvancedFieldType == advancedFieldType; });
  return row ? row->FieldType : ftUnknown;
}

std::string AdvancedFieldTypeToSQLName(TVEXAdvancedFieldType advancedFieldType) {
  const auto* row =
      FirstRow([&](const TSQLFieldType& r) { return r.AdvancedFieldType == advancedFieldType; });
  return std::string(row ? row->SqlName : kUnknownSQLName);
}

std::string BaseFieldTypeToSQLName(TVEXBaseFieldType baseFieldType) {
  const auto* row =
      FirstRow([&](const TSQLFieldType& r) { return r.BaseFieldType == baseFieldType; });
  return std::string(row ? row->SqlName : kUnknownSQLName);
}

bool IsNumericAdvancedFieldType(TVEXAdvancedFieldType t) {
  return IsNumericBaseFieldType(AdvancedToBaseFieldType(t));
}

bool IsDateTimeAdvancedFieldType(TVEXAdvancedFieldType t) {
  return IsDateTimeBaseFieldType(AdvancedToBaseFieldType(t));
}

// --- Dates and times -------------------------------------------------------

namespace {

// The time of day of a date-time, in milliseconds before rounding. A negative
// date-time still counts its fraction forward from midnight (-1.25 is 06:00 of
// 1899-12-29), so the magnitude of the fraction is the time of day.
double TimeOfDayMSecs(double dateTime) {
  double whole;
  const double fraction = std::modf(dateTime, &whole);
  return std::fabs(fraction) * kMSecsPerDay;
}

}  // namespace

int32_t DateTimeToVEXDate(double dateTime) {
  const double days = std::trunc(dateTime);
  // The day count must fit the 64-bit computation; 2^63 itself does not.
  if (!(days > -9223372036854775808.0 && days < 9223372036854775808.0)) {
    throw rtl::EIntOverflow(sIntegerOverflow);
  }
  const uint64_t vexDate = static_cast<uint64_t>(static_cast<int64_t>(days)) + kVEXDateDelta;
  return static_cast<int32_t>(static_cast<uint32_t>(vexDate));
}

double VEXDateToDateTime(int32_t vexDate) {
  return static_cast<double>(static_cast<int64_t>(vexDate) - kVEXDateDelta);
}

int32_t DateTimeToVEXTime(double dateTime) {
  const double msecs = std::nearbyint(TimeOfDayMSecs(dateTime));
  if (!(msecs >= 0 && msecs <= kMSecsPerDay)) throw rtl::EIntOverflow(sIntegerOverflow);
  return static_cast<int32_t>(msecs);
}

double VEXTimeToDateTime(int32_t vexTime) {
  double whole;
  return std::modf(static_cast<double>(vexTime) / kMSecsPerDay, &whole);
}

TVEXDateTime DateTimeToVEXDateTime(double dateTime) {
  TVEXDateTime result{DateTimeToVEXDate(dateTime), DateTimeToVEXTime(dateTime)};
  if (result.Time >= kMSecsPerDay) {
    // Rounded up to the next midnight: that is 00:00 of the next day, not of
    // this one.
    result.Date = static_cast<int32_t>(static_cast<uint32_t>(result.Date) + 1u);
    result.Time -= kMSecsPerDay;
  }
  return result;
}

double VEXDateTimeToDateTime(const TVEXDateTime& vexDateTime) {
  int64_t days = static_cast<int64_t>(vexDateTime.Date) - kVEXDateDelta;
  int64_t msecs = vexDateTime.Time;
  // A time of a whole day or more (a time of day that rounded up to midnight)
  // belongs to a later day.
  if (msecs >= kMSecsPerDay) {
    days += msecs / kMSecsPerDay;
    msecs %= kMSecsPerDay;
  }
  const double fraction = static_cast<double>(msecs) / kMSecsPerDay;
  return days < 0 ? static_cast<double>(days) - fraction : static_cast<double>(days) + fraction;
}

// --- LIKE --------------------------------------------------------------------

namespace {

template <class Char, class Equal>
class LikeMatcher {
 public:
  using View = std::basic_string_view<Char>;

  LikeMatcher(bool useEscape, Char escapeChar, Equal equal)
      : FUseEscape(useEscape), FEscapeChar(escapeChar), FEqual(equal) {}

  bool Match(View text, View pattern) const {
    for (;;) {
      if (pattern.size() == 1 && pattern[0] == Char('%')) return true;
      if (text.empty()) {
        // An exhausted text still matches a pattern of nothing but '%', which
        // stands for an empty run however often it is repeated.
        return pattern.find_first_not_of(Char('%')) == View::npos;
      }
      if (pattern.empty()) return false;

      Char p = pattern[0];
      if (p == Char('%')) {
        const View rest = pattern.substr(1);
        for (size_t k = 0; k <= text.size(); ++k) {
          if (Match(text.substr(k), rest)) return true;
        }
        return false;
      }
      if (p == Char('_')) {
        text.remove_prefix(1);
        pattern.remove_prefix(1);
        continue;
      }
      if (FUseEscape && p == FEscapeChar) {
        // The next pattern character is literal; an escape at the very end has
        // nothing to compare and cannot match.
        if (pattern.size() < 2) return false;
        pattern.remove_prefix(1);
        p = pattern[0];
      }
      if (!FEqual(text[0], p)) return false;
      text.remove_prefix(1);
      pattern.remove_prefix(1);
    }
  }

 private:
  bool FUseEscape;
  Char FEscapeChar;
  Equal FEqual;
};

}  // namespace

// Two characters of a LIKE test are equal when the locale's string comparison
// finds them so. Printable ASCII is settled without the collator: such
// characters are never ignorable, so two of them are equal only when they are
// the same letter (ignoring case when asked).
template <class Char>
bool PrintableAsciiEqual(Char a, Char b, bool caseInsensitive) {
  if (a == b) return true;
  if (!caseInsensitive) return false;
  auto upper = [](Char c) { return c >= Char('a') && c <= Char('z') ? Char(c - 32) : c; };
  return upper(a) == upper(b);
}

template <class Char>
bool IsPrintableAscii(Char c) {
  return c >= Char(0x20) && c < Char(0x7F);
}

bool MatchLikePattern(std::string_view text, std::string_view pattern, bool useEscape,
                      char escapeChar, bool caseInsensitive) {
  auto equal = [caseInsensitive](char a, char b) {
    if (a == b) return true;
    if (IsPrintableAscii(a) && IsPrintableAscii(b)) {
      return PrintableAsciiEqual(a, b, caseInsensitive);
    }
    return text::CompareAnsi(std::string_view(&a, 1), std::string_view(&b, 1), caseInsensitive) ==
           text::Order::Equal;
  };
  return LikeMatcher<char, decltype(equal)>(useEscape, escapeChar, equal).Match(text, pattern);
}

bool MatchLikePatternWide(std::u16string_view text, std::u16string_view pattern, bool useEscape,
                          char16_t escapeChar, bool caseInsensitive) {
  auto equal = [caseInsensitive](char16_t a, char16_t b) {
    if (a == b) return true;
    if (IsPrintableAscii(a) && IsPrintableAscii(b)) {
      return PrintableAsciiEqual(a, b, caseInsensitive);
    }
    return text::CompareWide(std::u16string_view(&a, 1), std::u16string_view(&b, 1),
                             caseInsensitive) == text::Order::Equal;
  };
  return LikeMatcher<char16_t, decltype(equal)>(useEscape, escapeChar, equal).Match(text, pattern);
}

// --- SQL date, time and timestamp literals ------------------------------------

namespace {

// Reads a group of ASCII digits at pos and steps over exactly one more
// character (the separator, or nothing at the end). The group is good when it
// has exactly `width` digits.
template <class Char>
bool ReadDigitGroup(std::basic_string_view<Char> text, size_t& pos, size_t width, int& value) {
  const size_t start = pos;
  value = 0;
  while (pos < text.size() && text[pos] >= Char('0') && text[pos] <= Char('9')) {
    if (pos - start < width) value = value * 10 + static_cast<int>(text[pos] - Char('0'));
    ++pos;
  }
  const bool good = pos - start == width;
  if (pos < text.size()) ++pos;
  return good;
}

// Reads the groups of the given widths; after the last one the text must end.
template <class Char, size_t N>
bool ReadDigitGroups(std::basic_string_view<Char> text, const size_t (&widths)[N],
                     int (&values)[N]) {
  size_t pos = 0;
  for (size_t i = 0; i < N; ++i) {
    if (!ReadDigitGroup(text, pos, widths[i], values[i])) return false;
  }
  return pos == text.size();
}

template <class Char>
bool ParseDate(std::basic_string_view<Char> text, double& dateTime) {
  int v[3];
  if (!ReadDigitGroups(text, {4, 2, 2}, v)) return false;
  dateTime = rtl::EncodeDate(v[0], v[1], v[2]);
  return true;
}

template <class Char>
bool ParseTime(std::basic_string_view<Char> text, double& dateTime) {
  int v[3];
  if (!ReadDigitGroups(text, {2, 2, 2}, v)) return false;
  dateTime = rtl::EncodeTime(v[0], v[1], v[2], 0);
  return true;
}

template <class Char>
bool ParseTimeStamp(std::basic_string_view<Char> text, double& dateTime) {
  int v[6];
  if (!ReadDigitGroups(text, {4, 2, 2, 2, 2, 2}, v)) return false;
  dateTime = rtl::EncodeDateTime(v[0], v[1], v[2], v[3], v[4], v[5], 0);
  return true;
}

}  // namespace

bool ParseSQLDate(std::string_view text, double& dateTime) { return ParseDate(text, dateTime); }
bool ParseSQLTime(std::string_view text, double& dateTime) { return ParseTime(text, dateTime); }
bool ParseSQLTimeStamp(std::string_view text, double& dateTime) {
  return ParseTimeStamp(text, dateTime);
}
bool ParseSQLDate(std::u16string_view text, double& dateTime) { return ParseDate(text, dateTime); }
bool ParseSQLTime(std::u16string_view text, double& dateTime) { return ParseTime(text, dateTime); }
bool ParseSQLTimeStamp(std::u16string_view text, double& dateTime) {
  return ParseTimeStamp(text, dateTime);
}

// --- Copying a field's value ------------------------------------------------

namespace {

// The 8-byte header some graphic BLOBs begin with: a count of 1, the type
// 0x0100 and the length of the bytes behind it.
bool StartsWithGraphicHeader(rtl::TStream& stream, int64_t size) {
  if (size <= 7) return false;
  uint8_t header[8];
  stream.SetPosition(0);
  if (stream.Read(header, 8) != 8) return false;
  const uint16_t count = static_cast<uint16_t>(header[0] | header[1] << 8);
  const uint16_t type = static_cast<uint16_t>(header[2] | header[3] << 8);
  const uint32_t length = static_cast<uint32_t>(header[4]) | static_cast<uint32_t>(header[5]) << 8 |
                          static_cast<uint32_t>(header[6]) << 16 |
                          static_cast<uint32_t>(header[7]) << 24;
  return count == 1 && type == 0x0100 && int64_t{length} == size - 8;
}

}  // namespace

void CopyFieldValue(db::TField* Source, db::TField* Dest) {
  const TFieldType sourceType = Source->DataType();
  if (sourceType == ftVarBytes) {
    const rtl::Variant value = Source->AsVariant();
    if (!(value == Dest->AsVariant())) Dest->SetAsVariant(value);
    return;
  }
  if (sourceType == ftLargeint) {
    if (Source->IsNull()) {
      Dest->Clear();
    } else if (auto* large = dynamic_cast<db::TLargeintField*>(Dest)) {
      large->SetAsLargeInt(Source->AsLargeInt());
    } else {
      Dest->Assign(Source);
    }
    return;
  }
  if (sourceType == ftWideMemo) {
    if (Source->IsNull())
      Dest->Clear();
    else
      Dest->SetAsVariant(rtl::Variant(Source->AsWideString()));
    return;
  }
  if (Source->IsBlob() && Dest->IsBlob()) {
    if (Dest->DataType() == ftWideMemo) {
      if (Source->IsNull())
        Dest->Clear();
      else
        Dest->SetAsString(Source->AsString());
      return;
    }
    std::unique_ptr<rtl::TStream> from = Source->DataSet()->CreateBlobStream(Source, bmRead);
    std::unique_ptr<rtl::TStream> to = Dest->DataSet()->CreateBlobStream(Dest, bmWrite);
    const int64_t size = from->GetSize();
    const int64_t start = StartsWithGraphicHeader(*from, size) ? 8 : 0;
    from->SetPosition(start);
    if (size > start) to->CopyFrom(*from, size - start);
    return;
  }
  if (sourceType == ftWideString && Dest->IsBlob()) {
    const std::u16string text = Source->AsWideString();
    std::unique_ptr<rtl::TStream> to = Dest->DataSet()->CreateBlobStream(Dest, bmWrite);
    if (!text.empty())
      to->WriteBuffer(text.data(), static_cast<int32_t>(text.size() * sizeof(char16_t)));
    return;
  }
  if (Dest->DataType() == ftWideString && Source->IsBlob()) {
    if (Source->IsNull()) {
      Dest->Clear();
      return;
    }
    std::unique_ptr<rtl::TStream> from = Source->DataSet()->CreateBlobStream(Source, bmRead);
    std::u16string text(static_cast<size_t>(from->GetSize() / 2), u'\0');
    from->SetPosition(0);
    if (!text.empty())
      from->ReadBuffer(text.data(), static_cast<int32_t>(text.size() * sizeof(char16_t)));
    Dest->SetAsVariant(rtl::Variant(text));
    return;
  }
  if (dynamic_cast<db::TLargeintField*>(Dest) != nullptr &&
      dynamic_cast<db::TLargeintField*>(Source) == nullptr) {
    if (Source->IsNull())
      Dest->Clear();
    else
      Dest->SetAsLargeInt(Source->AsInteger());
    return;
  }
  Dest->Assign(Source);
}

}  // namespace vex
