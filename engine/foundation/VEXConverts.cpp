#include "foundation/VEXConverts.h"

#include <cmath>
#include <limits>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

template <class Char>
bool IsPrintableAscii(Char c) {
  return c >= Char(0x20) && c < Char(0x7F);
}

template <class Char>
Char OtherAsciiCase(Char c) {
  if (c >= Char('a') && c <= Char('z')) return Char(c - 32);
  if (c >= Char('A') && c <= Char('Z')) return Char(c + 32);
  return c;
}

// Two characters of a LIKE test are equal when the locale's string comparison
// finds them so. Printable ASCII is settled without the collator: such
// characters are never ignorable, so two of them are equal only when they are
// the same letter (ignoring case when asked).
template <class Char>
bool PrintableAsciiEqual(Char a, Char b, bool caseInsensitive) {
  return a == b || (caseInsensitive && OtherAsciiCase(a) == b);
}

// The first position from `from` on whose character may equal the printable
// ASCII character c: c itself, `other` (its other case, or c again), or any
// character outside printable ASCII, which only the collator can settle. The
// text size when there is none.
template <class Char>
size_t FindCandidate(std::basic_string_view<Char> text, size_t from, Char c, Char other) {
  size_t i = from;
#if defined(__SSE2__)
  using Unsigned = std::make_unsigned_t<Char>;
  constexpr size_t kLanes = 16 / sizeof(Char);
  auto splat = [](int v) {
    if constexpr (sizeof(Char) == 1) {
      return _mm_set1_epi8(static_cast<char>(v));
    } else {
      return _mm_set1_epi16(static_cast<short>(v));
    }
  };
  const __m128i vc = splat(static_cast<Unsigned>(c));
  const __m128i vo = splat(static_cast<Unsigned>(other));
  const __m128i below = splat(0x1F);
  const __m128i above = splat(0x7F);
  const __m128i ones = splat(-1);
  for (; i + kLanes <= text.size(); i += kLanes) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    __m128i hit;
    __m128i inRange;
    // Signed lanes: everything from 0x80 (or 0x8000) up is negative and so
    // falls outside the printable range like the control characters.
    if constexpr (sizeof(Char) == 1) {
      hit = _mm_or_si128(_mm_cmpeq_epi8(v, vc), _mm_cmpeq_epi8(v, vo));
      inRange = _mm_and_si128(_mm_cmpgt_epi8(v, below), _mm_cmplt_epi8(v, above));
    } else {
      hit = _mm_or_si128(_mm_cmpeq_epi16(v, vc), _mm_cmpeq_epi16(v, vo));
      inRange = _mm_and_si128(_mm_cmpgt_epi16(v, below), _mm_cmplt_epi16(v, above));
    }
    const int mask = _mm_movemask_epi8(_mm_or_si128(hit, _mm_andnot_si128(inRange, ones)));
    if (mask != 0) {
      return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / sizeof(Char);
    }
  }
#endif
  for (; i < text.size(); ++i) {
    const Char x = text[i];
    if (x == c || x == other || !IsPrintableAscii(x)) return i;
  }
  return text.size();
}

// The pattern is read as a chain of tokens: a run of '%' (any run of
// characters, also none), '_' (one character), a literal (one character equal
// to it; after the escape character even '%' and '_'), and an escape at the
// very end, which can never match. Between two '%' runs every token takes
// exactly one character, so the first place at which such a segment matches
// is never worse than a later one: on a mismatch only the last '%' run has to
// take one more character, and every earlier choice stands. That bounds the
// work by text length times pattern length, where trying every split
// recursively grows with the power of the number of '%'. Where a segment
// starts with a printable ASCII literal, the places it cannot start are
// skipped by a scan; when no place is left, no earlier choice can help either,
// as it would only move the segment further right.
template <class Char, class Equal>
bool MatchLike(std::basic_string_view<Char> text, std::basic_string_view<Char> pattern,
               bool useEscape, Char escapeChar, bool caseInsensitive, Equal equal) {
  constexpr size_t kNone = static_cast<size_t>(-1);
  const size_t n = text.size();
  const size_t m = pattern.size();
  size_t t = 0;
  size_t p = 0;
  size_t resumePattern = kNone;  // the token after the last '%' run passed
  size_t resumeText = 0;         // where the text after that run starts now
  bool scan = false;             // whether that token is a literal to scan for
  Char first = 0;
  Char firstOther = 0;
  for (;;) {
    bool advanced = false;
    if (p < m) {
      Char c = pattern[p];
      if (c == Char('%')) {
        do ++p;
        while (p < m && pattern[p] == Char('%'));
        // A pattern that ends in '%' takes whatever text is left.
        if (p == m) return true;
        resumePattern = p;
        // '%' stands for a token that is no literal ('_', a trailing escape).
        first = pattern[p];
        if (first == Char('_')) {
          first = Char('%');
        } else if (useEscape && first == escapeChar) {
          first = p + 1 < m ? pattern[p + 1] : Char('%');
        }
        scan = first != Char('%') && IsPrintableAscii(first);
        firstOther = caseInsensitive ? OtherAsciiCase(first) : first;
        if (scan) {
          t = FindCandidate(text, t, first, firstOther);
          if (t == n) return false;
        }
        resumeText = t;
        continue;
      }
      if (t < n) {
        if (c == Char('_')) {
          ++t;
          ++p;
          advanced = true;
        } else {
          size_t width = 1;
          bool literal = true;
          if (useEscape && c == escapeChar) {
            literal = p + 1 < m;
            if (literal) c = pattern[p + 1];
            width = 2;
          }
          if (literal && equal(text[t], c)) {
            ++t;
            p += width;
            advanced = true;
          }
        }
      }
    } else if (t == n) {
      return true;
    }
    if (advanced) continue;
    if (resumePattern == kNone || resumeText >= n) return false;
    ++resumeText;
    if (scan) {
      resumeText = FindCandidate(text, resumeText, first, firstOther);
      if (resumeText == n) return false;
    }
    t = resumeText;
    p = resumePattern;
  }
}

}  // namespace

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
  return MatchLike(text, pattern, useEscape, escapeChar, caseInsensitive, equal);
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
  return MatchLike(text, pattern, useEscape, escapeChar, caseInsensitive, equal);
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
