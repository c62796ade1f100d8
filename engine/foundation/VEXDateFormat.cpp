#include "foundation/VEXDateFormat.h"

#include <algorithm>
#include <cmath>

#include "foundation/VEXExcept.h"
#include "foundation/VEXStartup.h"
#include "rtl/CodePage.h"
#include "rtl/FormatSettings.h"
#include "rtl/NumberText.h"

namespace vex {

const std::array<std::string_view, dfText> DateFormatKeywords = {
    "YYYY", "YY", "YEAR", "Q",    "MONTH", "MON", "MM",  "M", "RM", "DDD", "DD", "DAY", "DY",
    "DW",   "D",  "HH12", "HH24", "HH",    "H12", "H24", "H", "NN", "N",   "SS", "S",   "AMPM"};

namespace {
constinit int32_t gMaxKeywordLength = 0;  // 0: not worked out
}  // namespace

int32_t MaxDateFormatKeywordLength() {
  if (gMaxKeywordLength == 0) RaiseEngineNotStarted("The date-format keyword table");
  return gMaxKeywordLength;
}

void CreateDateFormatKeywordLength() {
  // Computed from the table rather than written down, so that a keyword added
  // later cannot be missed by the scan's look-ahead.
  size_t longest = 0;
  for (auto keyword : DateFormatKeywords) longest = std::max(longest, keyword.size());
  gMaxKeywordLength = static_cast<int32_t>(longest);
}

void FreeDateFormatKeywordLength() noexcept { gMaxKeywordLength = 0; }

namespace {

constexpr int64_t kMsPerDay = 86400000;

bool IsDateToken(TDateFormatType t) { return t <= dfD; }
bool IsTimeToken(TDateFormatType t) { return t >= dfHH12 && t <= dfAMPM; }

// Splits a date-time into its day and its milliseconds of the day with one
// rounding, so that 23:59:59.9996 becomes the next midnight and not 24:00:00 of
// the same day.
struct DateParts {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
  int DayOfYear = 0, DayOfWeek = 0;  // DayOfWeek 1 = Sunday ... 7 = Saturday
};

DateParts Split(rtl::TDateTime dt) {
  DateParts p;
  double whole = std::trunc(dt);
  int64_t ms = std::llround(std::fabs(dt - whole) * kMsPerDay);
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    whole += 1;
  }
  rtl::DecodeDate(whole, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(ms / 3600000);
  p.Minute = static_cast<int>(ms / 60000 % 60);
  p.Second = static_cast<int>(ms / 1000 % 60);
  if (p.Year > 0) {
    p.DayOfYear = static_cast<int>(whole - rtl::EncodeDate(p.Year, 1, 1)) + 1;
    p.DayOfWeek = rtl::DayOfWeek(whole);
  }
  return p;
}

std::string Padded(int value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

std::string Roman(int month) {
  static const std::array<const char*, 12> numerals = {"I",   "II",   "III", "IV", "V",  "VI",
                                                       "VII", "VIII", "IX",  "X",  "XI", "XII"};
  return month >= 1 && month <= 12 ? numerals[month - 1] : "";
}

template <size_t N>
int32_t LongestName(const std::array<std::string, N>& names) {
  size_t longest = 0;
  for (const auto& name : names) longest = std::max(longest, name.size());
  return static_cast<int32_t>(longest);
}

// Reads a number from the input as the parser of the platform does: anything
// that is not one raises its conversion error.
class InputReader {
 public:
  explicit InputReader(std::string_view text) : FText(text) {}

  std::string_view Take(size_t count) {
    std::string_view part = FPos < FText.size() ? FText.substr(FPos, count) : std::string_view{};
    FPos += count;
    return part;
  }
  int Number(size_t count) { return rtl::StrToInt(Take(count)); }
  // One digit when the character after it is not a digit (or there is none), else two.
  int OneOrTwoDigits() {
    bool two = FPos + 1 < FText.size() && FText[FPos + 1] >= '0' && FText[FPos + 1] <= '9';
    return Number(two ? 2 : 1);
  }
  void Skip(size_t count) { FPos += count; }

 private:
  std::string_view FText;
  size_t FPos = 0;
};

}  // namespace

TDateFormater::TDateFormater(std::string_view dateFormat) {
  const size_t n = dateFormat.size();
  const size_t maxKeyword = static_cast<size_t>(MaxDateFormatKeywordLength());
  size_t i = 0, start = 0;
  char quote = 0;
  auto flushText = [&](size_t end, bool evenEmpty) {
    if (end > start || evenEmpty)
      FDateFormat.push_back({dfText, std::string(dateFormat.substr(start, end - start))});
  };
  while (i < n) {
    char c = dateFormat[i];
    if (quote != 0) {
      if (c == quote) {
        flushText(i, true);
        quote = 0;
        start = i + 1;
      }
      ++i;
      continue;
    }
    if (c == '\'' || c == '"') {
      flushText(i, false);
      quote = c;
      start = ++i;
      continue;
    }
    bool matched = false;
    for (size_t len = std::min(maxKeyword, n - i); len >= 1 && !matched; --len) {
      std::string candidate = rtl::UpperCase(dateFormat.substr(i, len));
      auto hit = std::find(DateFormatKeywords.begin(), DateFormatKeywords.end(), candidate);
      if (hit == DateFormatKeywords.end()) continue;
      flushText(i, false);
      FDateFormat.push_back({static_cast<TDateFormatType>(hit - DateFormatKeywords.begin()),
                             std::string(dateFormat.substr(i, len))});
      i += len;
      start = i;
      matched = true;
    }
    if (!matched) ++i;
  }
  // Text after a quote that is never closed is left out.
  if (quote == 0) flushText(n, false);
}

rtl::TDateTime TDateFormater::ToDate(std::string_view str) const {
  InputReader in(str);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  enum { NoMeridiem, Am, Pm } meridiem = NoMeridiem;
  for (const auto& token : FDateFormat) {
    switch (token.TokenType) {
      case dfYYYY:
      case dfYEAR:
        year = in.Number(4);
        break;
      case dfYY: {
        int yy = in.Number(2);
        year = yy < 30 ? yy + 2000 : yy + 1900;
        break;
      }
      case dfQ:
        month = 3 * in.Number(1) - 2;
        break;
      case dfMM:
        month = in.Number(2);
        break;
      case dfM:
        month = in.OneOrTwoDigits();
        break;
      case dfDD:
        day = in.Number(2);
        break;
      case dfD:
        day = in.OneOrTwoDigits();
        break;
      case dfHH24:
        hour = in.Number(2);
        break;
      case dfHH12:
      case dfHH:
      case dfH12:
      case dfH24:
      case dfH:
        hour = in.OneOrTwoDigits();
        break;
      case dfNN:
        minute = in.Number(2);
        break;
      case dfN:
        minute = in.OneOrTwoDigits();
        break;
      case dfSS:
        second = in.Number(2);
        break;
      case dfS:
        second = in.OneOrTwoDigits();
        break;
      case dfAMPM: {
        std::string word(in.Take(2));
        std::string upper = rtl::UpperCase(word);
        if (upper == "PM")
          meridiem = Pm;
        else if (upper == "AM")
          meridiem = Am;
        else
          throw EVEXException(30129, "AM/PM word expected, but '%s' found", word);
        break;
      }
      default:  // literal text, and names the parser does not read
        in.Skip(token.Text.size());
        break;
    }
  }
  // The AM/PM word applies to the hour wherever the two stand in the format, and
  // 12 AM is midnight, 12 PM noon.
  if (meridiem != NoMeridiem) {
    if (hour == 12) hour = 0;
    if (meridiem == Pm) hour += 12;
  }
  if (year == 0 || month == 0 || day == 0) return rtl::EncodeTime(hour, minute, second, 0);
  return rtl::EncodeDateTime(year, month, day, hour, minute, second, 0);
}

std::string TDateFormater::ToString(rtl::TDateTime dt) const {
  const rtl::TFormatSettings& fs = rtl::FormatSettings();
  DateParts p = Split(dt);
  std::string out;
  for (const auto& token : FDateFormat) {
    switch (token.TokenType) {
      case dfYYYY:
      case dfYEAR:
        out += Padded(p.Year, 4);
        break;
      case dfYY:
        out += Padded(p.Year % 100, 2);
        break;
      case dfQ:
        out += std::to_string((p.Month - 1) / 3 + 1);
        break;
      case dfMONTH:
        if (p.Month > 0) out += fs.LongMonthNames[p.Month - 1];
        break;
      case dfMON:
        if (p.Month > 0) out += fs.ShortMonthNames[p.Month - 1];
        break;
      case dfMM:
        out += Padded(p.Month, 2);
        break;
      case dfM:
        out += std::to_string(p.Month);
        break;
      case dfRM:
        out += Roman(p.Month);
        break;
      case dfDDD:
        if (p.DayOfWeek > 0) out += fs.ShortDayNames[p.DayOfWeek - 1];
        break;
      case dfDAY:
        if (p.DayOfWeek > 0) out += fs.LongDayNames[p.DayOfWeek - 1];
        break;
      case dfDD:
        out += Padded(p.Day, 2);
        break;
      case dfD:
        out += std::to_string(p.Day);
        break;
      case dfDY:
        out += std::to_string(p.DayOfYear);
        break;
      case dfDW:
        out += std::to_string((p.DayOfWeek + 5) % 7 + 1);
        break;  // Monday first
      case dfHH12:
      case dfHH:
        out += Padded(p.Hour % 12, 2);
        break;
      case dfH12:
      case dfH:
        out += std::to_string(p.Hour % 12);
        break;
      case dfHH24:
        out += Padded(p.Hour, 2);
        break;
      case dfH24:
        out += std::to_string(p.Hour);
        break;
      case dfNN:
        out += Padded(p.Minute, 2);
        break;
      case dfN:
        out += std::to_string(p.Minute);
        break;
      case dfSS:
        out += Padded(p.Second, 2);
        break;
      case dfS:
        out += std::to_string(p.Second);
        break;
      case dfAMPM:
        out += p.Hour > 11 ? "PM" : "AM";
        break;
      case dfText:
        out += token.Text;
        break;
    }
  }
  return out;
}

int32_t TDateFormater::GetStringMaxSize() const {
  // Names are sized by the longest one of the active locale (a French short
  // month has five letters, a Spanish long month ten), never below the English
  // sizes, so that a column sized by this holds every formatted date.
  const rtl::TFormatSettings& fs = rtl::FormatSettings();
  int32_t size = 0;
  for (const auto& token : FDateFormat) {
    switch (token.TokenType) {
      case dfYYYY:
      case dfYEAR:
      case dfRM:
        size += 4;
        break;
      case dfQ:
        size += 1;
        break;
      case dfMONTH:
        size += std::max(9, LongestName(fs.LongMonthNames));
        break;
      case dfMON:
        size += std::max(3, LongestName(fs.ShortMonthNames));
        break;
      case dfDDD:
        size += std::max(3, LongestName(fs.ShortDayNames));
        break;
      case dfDY:
        size += 3;
        break;
      case dfDAY:
        size += std::max(12, LongestName(fs.LongDayNames));
        break;
      case dfText:
        size += static_cast<int32_t>(token.Text.size());
        break;
      default:
        size += 2;
        break;
    }
  }
  return size;
}

TVEXAdvancedFieldType TDateFormater::GetDataType() const {
  bool hasDate = false, hasTime = false;
  for (const auto& token : FDateFormat) {
    hasDate = hasDate || IsDateToken(token.TokenType);
    hasTime = hasTime || IsTimeToken(token.TokenType);
  }
  if (hasDate && !hasTime) return aftDate;
  if (hasTime && !hasDate) return aftTime;
  return aftDateTime;
}

std::string TDateFormater::DebugGetTotenList() const {
  std::string out;
  int number = 0;
  for (const auto& token : FDateFormat) {
    std::string_view name =
        token.TokenType == dfText ? std::string_view("Text") : DateFormatKeywords[token.TokenType];
    out += std::to_string(++number);
    out += " <df";
    out += name;
    out += "> = '";
    out += token.Text;
    out += "'\r\n";
  }
  return out;
}

}  // namespace vex
