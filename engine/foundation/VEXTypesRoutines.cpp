// Conversion of raw typed payloads between the storage types.
//
// ConvertValue first decides whether the pair has a conversion at all (30052 when
// not), then reads the source into one of a few plain forms (a text, an integer,
// a real, a date/time, a flag) and writes the result type from it. Every failure
// after the pair is accepted is reported as 30051, and the result block is built
// last, so a failure leaves nothing allocated.
#include "foundation/VEXTypesRoutines.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXVariant.h"
#include "rtl/CodePage.h"
#include "rtl/DateText.h"
#include "rtl/FormatSettings.h"
#include "rtl/NumberText.h"

namespace vex {

namespace {

// ---- the platform's text conversions, all in the process's conventions ----

std::u16string AnsiToWide(std::string_view text) { return rtl::Win1252ToUtf16(text); }
std::string WideToAnsi(std::u16string_view text) { return rtl::Utf16ToWin1252(text); }

int32_t TextToInt32(const std::string& text) { return rtl::StrToInt(text); }
int64_t TextToInt64(const std::string& text) { return rtl::StrToInt64(text); }

// Reals in engine text always use '.', whatever the locale. The separator is
// handed to the parser, so no other thread ever sees a changed locale.
long double TextToFloatDot(const std::string& text) {
  rtl::TFormatSettings settings = rtl::FormatSettings();
  settings.DecimalSeparator = '.';
  return rtl::StrToFloat(text, settings);
}

// Money, by contrast, is read with the locale's separator.
double TextToCurrency(const std::string& text) { return rtl::StrToCurr(text).ToDouble(); }

double TextToDate(const std::string& text) { return rtl::StrToDate(text); }
double TextToTime(const std::string& text) { return rtl::StrToTime(text); }
double TextToDateTime(const std::string& text) { return rtl::StrToDateTime(text); }

std::string FloatToText(long double value) { return rtl::FloatToStr(value); }
std::string CurrencyToText(int64_t raw) { return rtl::CurrToStr(rtl::Currency::FromRaw(raw)); }
std::string DateToText(double value) { return rtl::DateToStr(value); }
std::string TimeToText(double value) { return rtl::TimeToStr(value); }
std::string DateTimeToText(double value) { return rtl::DateTimeToStr(value); }

bool IsAnsiText(TVEXBaseFieldType t) { return t == bftChar || t == bftVarchar; }
bool IsWideText(TVEXBaseFieldType t) { return t == bftWideChar || t == bftWideVarchar; }
bool IsIntegerType(TVEXBaseFieldType t) { return t >= bftSignedInt8 && t <= bftUnsignedInt32; }
bool IsFloatType(TVEXBaseFieldType t) { return t >= bftSingle && t <= bftExtended; }
bool IsTextSource(TVEXBaseFieldType t) {
  return IsAnsiText(t) || IsWideText(t) || t == bftClob || t == bftWideClob;
}
bool IsDateOrTime(TVEXBaseFieldType t) { return t >= bftDate && t <= bftDateTime; }

// The pairs that have a conversion. Nothing produces a CLOB, a byte type or an
// unknown type, and BLOBs, byte types and unknown types convert to nothing.
bool IsListedPair(TVEXBaseFieldType from, TVEXBaseFieldType to) {
  const bool textTo = IsAnsiText(to) || IsWideText(to);
  const bool numberTo = IsIntegerType(to) || IsFloatType(to);
  if (IsTextSource(from)) {
    return textTo || numberTo || IsDateOrTime(to) || to == bftBlob || to == bftLogical ||
           to == bftCurrency;
  }
  if (IsIntegerType(from) || IsFloatType(from) || IsDateOrTime(from)) {
    return textTo || numberTo || IsDateOrTime(to) || to == bftLogical || to == bftCurrency;
  }
  if (from == bftLogical) return textTo || numberTo || to == bftLogical;
  if (from == bftCurrency) return textTo || numberTo || to == bftLogical || to == bftCurrency;
  return false;
}

[[noreturn]] void RaiseCast(int32_t code, TVEXBaseFieldType from, TVEXBaseFieldType to) {
  throw EVEXException(code, "Cannot cast from '%s' to '%s'", BaseFieldTypeToSQLName(from),
                      BaseFieldTypeToSQLName(to));
}

// A conversion that cannot be done; turned into 30051 by ConvertValue.
struct ConversionFailure {};

// The result of a conversion, built in an ordinary buffer and moved into a
// memory manager block only at the end.
class Result {
 public:
  void Bytes(const void* data, size_t size) { FBytes.assign(static_cast<const char*>(data), size); }
  template <class T>
  void Fixed(const T& value) {
    Bytes(&value, sizeof(T));
  }
  void AnsiText(std::string_view text) {
    FBytes.assign(text);
    FBytes.push_back('\0');
  }
  void WideText(std::u16string_view text) {
    FBytes.assign(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    FBytes.append(2, '\0');
  }
  const std::string& Data() const { return FBytes; }

 private:
  std::string FBytes;
};

// ---- reading a source ----

std::string_view AnsiSource(const void* source, int32_t size, bool terminated) {
  const char* p = static_cast<const char*>(source);
  if (size < 0) return std::string_view(p);
  // A given size bounds the read, 0 included: a payload of no bytes has no
  // terminator to stop at.
  if (!terminated) return std::string_view(p, static_cast<size_t>(size));
  return std::string_view(p, strnlen(p, static_cast<size_t>(size)));
}

std::u16string WideSource(const void* source, int32_t size, bool terminated) {
  // The payload may sit at any address, so it is copied out character by
  // character rather than read through a cast pointer.
  const unsigned char* p = static_cast<const unsigned char*>(source);
  std::u16string text;
  const int64_t limit = size >= 0 ? size / 2 : INT64_MAX;
  for (int64_t i = 0; i < limit; ++i) {
    char16_t c;
    std::memcpy(&c, p + i * 2, 2);
    if (c == 0 && (terminated || size < 0)) break;
    text.push_back(c);
  }
  return text;
}

template <class T>
T Load(const void* source) {
  T value;
  std::memcpy(&value, source, sizeof(T));
  return value;
}

int64_t LoadInteger(const void* source, TVEXBaseFieldType type) {
  switch (type) {
    case bftSignedInt8:
      return Load<int8_t>(source);
    case bftSignedInt16:
      return Load<int16_t>(source);
    case bftSignedInt32:
      return Load<int32_t>(source);
    case bftSignedInt64:
      return Load<int64_t>(source);
    case bftUnsignedInt8:
      return Load<uint8_t>(source);
    case bftUnsignedInt16:
      return Load<uint16_t>(source);
    default:
      return Load<uint32_t>(source);
  }
}

static_assert(LDBL_MANT_DIG == 64, "bftExtended is the 10-byte x87 format");
constexpr size_t ExtendedSize = 10;

long double LoadFloat(const void* source, TVEXBaseFieldType type) {
  switch (type) {
    case bftSingle:
      return Load<float>(source);
    case bftDouble:
      return Load<double>(source);
    default: {
      // The payload holds only the 10 significant bytes of a long double.
      long double v = 0;
      std::memcpy(&v, source, ExtendedSize);
      return v;
    }
  }
}

// ---- writing a result ----

// Integer results keep the low bits of the value (two's complement), so every
// integer target takes any 64-bit value without a range error.
void PutInteger(Result& r, TVEXBaseFieldType to, int64_t v) {
  const uint64_t bits = static_cast<uint64_t>(v);
  switch (to) {
    case bftSignedInt8:
      r.Fixed(static_cast<int8_t>(bits));
      break;
    case bftSignedInt16:
      r.Fixed(static_cast<int16_t>(bits));
      break;
    case bftSignedInt32:
      r.Fixed(static_cast<int32_t>(bits));
      break;
    case bftSignedInt64:
      r.Fixed(static_cast<int64_t>(bits));
      break;
    case bftUnsignedInt8:
      r.Fixed(static_cast<uint8_t>(bits));
      break;
    case bftUnsignedInt16:
      r.Fixed(static_cast<uint16_t>(bits));
      break;
    default:
      r.Fixed(static_cast<uint32_t>(bits));
      break;
  }
}

// A real result is rounded to the target's precision; a finite value beyond the
// target's range fails as the platform's overflow does.
void PutFloat(Result& r, TVEXBaseFieldType to, long double v) {
  if (to == bftSingle) {
    if (std::isfinite(v) && std::fabs(v) > FLT_MAX) throw ConversionFailure{};
    r.Fixed(static_cast<float>(v));
  } else if (to == bftDouble) {
    if (std::isfinite(v) && std::fabs(v) > DBL_MAX) throw ConversionFailure{};
    r.Fixed(static_cast<double>(v));
  } else {
    r.Bytes(&v, ExtendedSize);
  }
}

// Truncation toward zero into the 64-bit range; NaN and values outside it fail.
int64_t TruncToInt64(long double v) {
  if (!(v > -9223372036854775809.0L && v < 9223372036854775808.0L)) throw ConversionFailure{};
  return static_cast<int64_t>(v);
}

int32_t Low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

void PutDateTime(Result& r, int32_t date, int32_t time) {
  TVEXDateTime dt;
  dt.Date = date;
  dt.Time = time;
  r.Fixed(dt);
}

void PutLogical(Result& r, bool v) { r.Fixed(static_cast<uint16_t>(v ? 0xFFFF : 0)); }

// A text result of either width from 8-bit text.
void PutText(Result& r, TVEXBaseFieldType to, std::string_view ansi) {
  if (IsWideText(to)) {
    r.WideText(AnsiToWide(ansi));
  } else {
    r.AnsiText(ansi);
  }
}

// Every numeric-like source reduced to what its targets need.
struct NumberSource {
  int64_t asInteger;    // integer targets (then cut to width)
  long double asFloat;  // real and currency targets
  bool asLogical;
};

void PutFromNumber(Result& r, TVEXBaseFieldType to, const NumberSource& n) {
  if (IsIntegerType(to)) {
    PutInteger(r, to, n.asInteger);
  } else if (IsFloatType(to)) {
    PutFloat(r, to, n.asFloat);
  } else if (to == bftCurrency) {
    PutFloat(r, bftDouble, n.asFloat);
  } else if (to == bftLogical) {
    PutLogical(r, n.asLogical);
  }
}

// ---- text sources ----

// The SQL literal forms are tried only for 8-bit text fields: they are how SQL
// text writes dates, and the wide and CLOB forms go straight to the locale's
// parsers.
void PutFromText(Result& r, TVEXBaseFieldType from, TVEXBaseFieldType to, const void* source,
                 int32_t size) {
  const bool wide = IsWideText(from) || from == bftWideClob;
  const bool terminated = from != bftClob && from != bftWideClob;
  std::u16string wideText;
  std::string narrow;
  if (wide) {
    wideText = WideSource(source, size, terminated);
    narrow = WideToAnsi(wideText);
  } else {
    narrow = std::string(AnsiSource(source, size, terminated));
  }
  const bool sqlLiterals = IsAnsiText(from);

  if (IsAnsiText(to)) {
    r.AnsiText(narrow);
  } else if (IsWideText(to)) {
    r.WideText(wide ? std::u16string_view(wideText) : std::u16string_view(AnsiToWide(narrow)));
  } else if (to == bftBlob) {
    if (wide) {
      r.WideText(wideText);
    } else {
      r.AnsiText(narrow);
    }
  } else if (to == bftSignedInt64) {
    r.Fixed(TextToInt64(narrow));
  } else if (IsIntegerType(to)) {
    PutInteger(r, to, TextToInt32(narrow));
  } else if (IsFloatType(to)) {
    PutFloat(r, to, TextToFloatDot(narrow));
  } else if (to == bftCurrency) {
    r.Fixed(TextToCurrency(narrow));
  } else if (to == bftLogical) {
    std::string upper = narrow;
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    PutLogical(r, upper == "1" || upper == "TRUE");
  } else {
    double dt = 0;
    bool parsed = false;
    if (sqlLiterals && to != bftTime) {
      parsed = ParseSQLTimeStamp(narrow, dt) || ParseSQLDate(narrow, dt);
    } else if (sqlLiterals) {
      parsed = ParseSQLTime(narrow, dt);
    }
    if (to == bftDate) {
      if (!parsed) dt = TextToDate(narrow);
      r.Fixed(DateTimeToVEXDate(dt));
    } else if (to == bftTime) {
      if (!parsed) dt = TextToTime(narrow);
      r.Fixed(DateTimeToVEXTime(dt));
    } else {
      if (!parsed) dt = TextToDateTime(narrow);
      r.Fixed(DateTimeToVEXDateTime(dt));
    }
  }
}

// ---- the other sources ----

void PutFromInteger(Result& r, TVEXBaseFieldType to, int64_t v) {
  if (IsAnsiText(to) || IsWideText(to)) {
    PutText(r, to, std::to_string(v));
  } else if (to == bftDate) {
    r.Fixed(Low32(v));
  } else if (to == bftTime) {
    r.Fixed(Low32(v));
  } else if (to == bftDateTime) {
    PutDateTime(r, Low32(v), 0);
  } else {
    PutFromNumber(r, to, {v, static_cast<long double>(v), v != 0});
  }
}

void PutFromFloat(Result& r, TVEXBaseFieldType to, long double v) {
  if (IsAnsiText(to) || IsWideText(to)) {
    PutText(r, to, FloatToText(v));
  } else if (to == bftDate) {
    r.Fixed(Low32(TruncToInt64(v)));
  } else if (to == bftTime) {
    r.Fixed(Low32(TruncToInt64(v) % kMSecsPerDay));
  } else if (to == bftDateTime) {
    const int64_t days = TruncToInt64(v);
    const long double fraction = v - static_cast<long double>(days);
    PutDateTime(r, Low32(days), Low32(TruncToInt64(fraction * kMSecsPerDay)));
  } else if (IsIntegerType(to)) {
    PutInteger(r, to, TruncToInt64(v));
  } else {
    PutFromNumber(r, to, {0, v, v != 0});
  }
}

void PutFromDate(Result& r, TVEXBaseFieldType to, int32_t d) {
  if (IsAnsiText(to) || IsWideText(to)) {
    PutText(r, to, d == EmptyVEXDate ? std::string() : DateToText(VEXDateToDateTime(d)));
  } else if (to == bftDate) {
    r.Fixed(d);
  } else if (to == bftTime) {
    r.Fixed(d % kMSecsPerDay);
  } else if (to == bftDateTime) {
    PutDateTime(r, d, 0);
  } else {
    PutFromNumber(r, to, {d, static_cast<long double>(d), d != EmptyVEXDate});
  }
}

void PutFromTime(Result& r, TVEXBaseFieldType to, int32_t t) {
  if (IsAnsiText(to) || IsWideText(to)) {
    PutText(r, to, t == 0 ? std::string() : TimeToText(VEXTimeToDateTime(t)));
  } else if (to == bftDate || to == bftTime) {
    r.Fixed(t);
  } else if (to == bftDateTime) {
    PutDateTime(r, EmptyVEXDate, t);
  } else {
    PutFromNumber(r, to, {t, static_cast<long double>(t), t != 0});
  }
}

void PutFromDateTime(Result& r, TVEXBaseFieldType to, const TVEXDateTime& v) {
  const bool empty = v.Date == EmptyVEXDate && v.Time == 0;
  const long double days = (v.Date == EmptyVEXDate ? 0.0L : static_cast<long double>(v.Date)) +
                           static_cast<long double>(v.Time) / kMSecsPerDay;
  if (IsAnsiText(to) || IsWideText(to)) {
    // The no-date marker is not a day number (as a day it lies before the
    // calendar and gives nonsense text); a date-time without a date (a time
    // made a date-time) is the time on the platform's day 0, as for numbers.
    const double dateTime =
        v.Date == EmptyVEXDate ? VEXTimeToDateTime(v.Time) : VEXDateTimeToDateTime(v);
    PutText(r, to, empty ? std::string() : DateTimeToText(dateTime));
  } else if (to == bftDate) {
    r.Fixed(v.Date);
  } else if (to == bftTime) {
    r.Fixed(v.Time);
  } else if (to == bftDateTime) {
    r.Fixed(v);
  } else if (to == bftCurrency) {
    // Through the platform's currency: four decimals, halves to even.
    const long double scaled = std::nearbyint(days * 10000.0L);
    PutFloat(r, bftDouble, static_cast<long double>(TruncToInt64(scaled)) / 10000.0L);
  } else {
    PutFromNumber(r, to, {v.Date, days, !empty});
  }
}

void PutFromLogical(Result& r, TVEXBaseFieldType to, bool v) {
  if (IsAnsiText(to) || IsWideText(to)) {
    PutText(r, to, v ? "True" : "False");
  } else if (to == bftLogical) {
    PutLogical(r, v);
  } else {
    PutFromNumber(r, to, {v ? 1 : 0, v ? 1.0L : 0.0L, v});
  }
}

void PutFromCurrency(Result& r, TVEXBaseFieldType to, double a) {
  if (IsAnsiText(to) || IsWideText(to)) {
    const long double scaled = std::nearbyint(static_cast<long double>(a) * 10000.0L);
    PutText(r, to, CurrencyToText(TruncToInt64(scaled)));
  } else if (IsIntegerType(to)) {
    PutInteger(r, to, TruncToInt64(a));
  } else {
    PutFromNumber(r, to, {0, a, a != 0});
  }
}

// The slot width of a number, date or flag: what its payload must hold.
size_t FixedWidth(TVEXBaseFieldType t) { return static_cast<size_t>(GetDataTypeSize(t, 0)); }

void Convert(Result& r, const void* source, int32_t size, TVEXBaseFieldType from,
             TVEXBaseFieldType to) {
  // A number, date or flag is read at its full width; a payload said to be
  // shorter (a damaged stored value) is refused rather than read past its end.
  if (!IsTextSource(from) && size > 0 && static_cast<size_t>(size) < FixedWidth(from)) {
    throw ConversionFailure{};
  }
  if (from == to && !IsTextSource(from)) {
    r.Bytes(source, FixedWidth(from));
  } else if (IsTextSource(from)) {
    PutFromText(r, from, to, source, size);
  } else if (IsIntegerType(from)) {
    PutFromInteger(r, to, LoadInteger(source, from));
  } else if (IsFloatType(from)) {
    PutFromFloat(r, to, LoadFloat(source, from));
  } else if (from == bftDate) {
    PutFromDate(r, to, Load<int32_t>(source));
  } else if (from == bftTime) {
    PutFromTime(r, to, Load<int32_t>(source));
  } else if (from == bftDateTime) {
    PutFromDateTime(r, to, Load<TVEXDateTime>(source));
  } else if (from == bftLogical) {
    PutFromLogical(r, to, Load<uint16_t>(source) != 0);
  } else {
    PutFromCurrency(r, to, Load<double>(source));
  }
}

}  // namespace

void* ConvertValue(const void* Source, int32_t SourceSize, TVEXBaseFieldType SourceType,
                   int32_t& ResultSize, TVEXBaseFieldType ResultType) {
  if (!IsListedPair(SourceType, ResultType)) RaiseCast(30052, SourceType, ResultType);
  Result result;
  void* block = nullptr;
  try {
    if (Source == nullptr) throw ConversionFailure{};
    Convert(result, Source, SourceSize, SourceType, ResultType);
    const std::string& bytes = result.Data();
    block = MemoryManager->GetMem(static_cast<int64_t>(bytes.size()));
    std::memcpy(block, bytes.data(), bytes.size());
  } catch (...) {
    RaiseCast(30051, SourceType, ResultType);
  }
  ResultSize = static_cast<int32_t>(result.Data().size());
  return block;
}

void* ConvertValue(const void* Source, int32_t SourceSize, TVEXBaseFieldType SourceType,
                   TVEXBaseFieldType ResultType) {
  int32_t resultSize = 0;
  return ConvertValue(Source, SourceSize, SourceType, resultSize, ResultType);
}

}  // namespace vex
