#include "rtl/DateText.h"

#include <cctype>
#include <cmath>

#include "rtl/CodePage.h"
#include "rtl/Exception.h"

namespace rtl {

namespace {

char Up(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool StartsWithNoCase(std::string_view text, size_t at, std::string_view word) {
  if (word.empty() || at + word.size() > text.size()) return false;
  for (size_t k = 0; k < word.size(); ++k) {
    if (AnsiUpperChar(text[at + k]) != AnsiUpperChar(word[k])) return false;
  }
  return true;
}

std::string Pad(int value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s;
}

struct Parts {
  int Year, Month, Day, Hour, Min, Sec, MSec, Weekday;
};

class DateFormatter {
 public:
  DateFormatter(TDateTime value, const TFormatSettings& fs) : FFs(fs) {
    DecodeDate(value, FP.Year, FP.Month, FP.Day);
    DecodeTime(value, FP.Hour, FP.Min, FP.Sec, FP.MSec);
    FP.Weekday = DayOfWeek(value);
    FHasTime = FP.Hour != 0 || FP.Min != 0 || FP.Sec != 0 || FP.MSec != 0;
  }

  std::string Run(std::string_view format, int depth = 0) {
    // A 12-hour clock applies when the pattern holds an AM/PM token anywhere.
    bool twelve = HasAmPm(format);
    std::string out;
    size_t i = 0;
    bool lastWasHour = false;
    while (i < format.size()) {
      char c = format[i];
      char u = Up(c);
      size_t run = 1;
      while (i + run < format.size() && Up(format[i + run]) == u) ++run;
      bool hour = false;
      switch (u) {
        case '\'':
        case '"': {
          size_t end = format.find(c, i + 1);
          if (end == std::string_view::npos) end = format.size();
          out += format.substr(i + 1, end - i - 1);
          i = end + 1;
          continue;
        }
        case 'D':
          if (run == 1)
            out += std::to_string(FP.Day);
          else if (run == 2)
            out += Pad(FP.Day, 2);
          else if (run == 3)
            out += FFs.ShortDayNames[FP.Weekday - 1];
          else if (run == 4)
            out += FFs.LongDayNames[FP.Weekday - 1];
          else if (depth == 0)
            out += Run(run == 5 ? FFs.ShortDateFormat : FFs.LongDateFormat, 1);
          run = std::min<size_t>(run, 6);
          break;
        case 'M':
          if (lastWasHour && run <= 2) {
            out += run == 1 ? std::to_string(FP.Min) : Pad(FP.Min, 2);
          } else if (run == 1) {
            out += std::to_string(FP.Month);
          } else if (run == 2) {
            out += Pad(FP.Month, 2);
          } else if (run == 3) {
            out += FFs.ShortMonthNames[FP.Month - 1];
          } else {
            out += FFs.LongMonthNames[FP.Month - 1];
            run = 4;
          }
          break;
        case 'Y':
          out += run <= 2 ? Pad(FP.Year % 100, 2) : Pad(FP.Year, 4);
          break;
        case 'H': {
          int h = FP.Hour;
          if (twelve) h = h % 12 == 0 ? 12 : h % 12;
          run = std::min<size_t>(run, 2);
          out += run == 1 ? std::to_string(h) : Pad(h, 2);
          hour = true;
          break;
        }
        case 'N':
          run = std::min<size_t>(run, 2);
          out += run == 1 ? std::to_string(FP.Min) : Pad(FP.Min, 2);
          break;
        case 'S':
          run = std::min<size_t>(run, 2);
          out += run == 1 ? std::to_string(FP.Sec) : Pad(FP.Sec, 2);
          break;
        case 'Z':
          run = run >= 3 ? 3 : 1;
          out += run == 1 ? std::to_string(FP.MSec) : Pad(FP.MSec, 3);
          break;
        case 'T':
          run = std::min<size_t>(run, 2);
          if (depth == 0) out += Run(run == 1 ? FFs.ShortTimeFormat : FFs.LongTimeFormat, 1);
          break;
        case 'C':
          run = 1;
          if (depth == 0) {
            out += Run(FFs.ShortDateFormat, 1);
            if (FHasTime) out += ' ' + Run(FFs.LongTimeFormat, 1);
          }
          break;
        case 'A':
          run = 1;
          if (StartsWithNoCase(format, i, "AMPM")) {
            out += FP.Hour < 12 ? FFs.TimeAMString : FFs.TimePMString;
            run = 4;
          } else if (StartsWithNoCase(format, i, "AM/PM")) {
            std::string_view word = FP.Hour < 12 ? format.substr(i, 2) : format.substr(i + 3, 2);
            out += word;
            run = 5;
          } else if (StartsWithNoCase(format, i, "A/P")) {
            out += FP.Hour < 12 ? format[i] : format[i + 2];
            run = 3;
          } else {
            out += c;
          }
          break;
        case '/':
          run = 1;
          out += FFs.DateSeparator;
          break;
        case ':':
          run = 1;
          out += FFs.TimeSeparator;
          break;
        default:
          run = 1;
          out += c;
          break;
      }
      // Blanks and separators between "h" and "m" keep "m" meaning minutes.
      if (hour) {
        lastWasHour = true;
      } else if (u != ' ' && u != ':' && u != '.' && u != '\'' && u != '"') {
        lastWasHour = false;
      }
      i += run;
    }
    return out;
  }

 private:
  static bool HasAmPm(std::string_view format) {
    char quote = 0;
    for (size_t i = 0; i < format.size(); ++i) {
      char c = format[i];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '\'' || c == '"') {
        quote = c;
      } else if (StartsWithNoCase(format, i, "AMPM") || StartsWithNoCase(format, i, "AM/PM") ||
                 StartsWithNoCase(format, i, "A/P")) {
        return true;
      }
    }
    return false;
  }

  const TFormatSettings& FFs;
  Parts FP{};
  bool FHasTime = false;
};

// --- parsing -------------------------------------------------------------

class Scanner {
 public:
  Scanner(std::string_view text, const TFormatSettings& fs) : FText(text), FFs(fs) {}

  void SkipBlanks() {
    while (FPos < FText.size() && FText[FPos] == ' ') ++FPos;
  }
  bool AtEnd() {
    SkipBlanks();
    return FPos >= FText.size();
  }
  bool Char(char c) {
    if (FPos < FText.size() && FText[FPos] == c) {
      ++FPos;
      return true;
    }
    return false;
  }
  // Up to `maxDigits` digits; false when there is none.
  bool Number(int& value, int& digits, int maxDigits = 9) {
    SkipBlanks();
    value = 0;
    digits = 0;
    while (FPos < FText.size() && digits < maxDigits &&
           std::isdigit(static_cast<unsigned char>(FText[FPos]))) {
      value = value * 10 + (FText[FPos++] - '0');
      ++digits;
    }
    return digits > 0;
  }
  bool Word(std::string_view word) {
    SkipBlanks();
    if (!StartsWithNoCase(FText, FPos, word)) return false;
    FPos += word.size();
    return true;
  }

  bool Date(TDateTime& result) {
    // The order of day, month and year follows the short date format.
    std::string order;
    for (char c : FFs.ShortDateFormat) {
      char u = Up(c);
      if ((u == 'D' || u == 'M' || u == 'Y') && order.find(u) == std::string::npos) order += u;
    }
    if (order.size() != 3) order = "MDY";
    int n[3] = {0, 0, 0};
    int len[3] = {0, 0, 0};
    if (!Number(n[0], len[0])) return false;
    if (!Char(FFs.DateSeparator)) return false;
    if (!Number(n[1], len[1])) return false;
    int count = 2;
    if (Char(FFs.DateSeparator)) {
      if (!Number(n[2], len[2])) return false;
      count = 3;
    }
    int year = 0, month = 0, day = 0, yearDigits = 0;
    if (count == 3) {
      for (int k = 0; k < 3; ++k) {
        if (order[k] == 'Y') year = n[k], yearDigits = len[k];
        if (order[k] == 'M') month = n[k];
        if (order[k] == 'D') day = n[k];
      }
    } else {
      // Two numbers: day and month in the order of the format, this year.
      bool monthFirst = order.find('M') < order.find('D');
      month = monthFirst ? n[0] : n[1];
      day = monthFirst ? n[1] : n[0];
      int dummyMonth, dummyDay;
      DecodeDate(rtl::Date(), year, dummyMonth, dummyDay);
      yearDigits = 4;
    }
    if (yearDigits <= 2) {
      int cy, cm, cd;
      DecodeDate(rtl::Date(), cy, cm, cd);
      int century = cy - cy % 100;
      if (FFs.TwoDigitYearCenturyWindow > 0) {
        int threshold = cy - FFs.TwoDigitYearCenturyWindow;
        year += threshold - threshold % 100;
        if (year < threshold) year += 100;
      } else {
        year += century;
      }
    }
    return TryEncodeDate(year, month, day, result);
  }

  bool Time(TDateTime& result) {
    int hour = 0, min = 0, sec = 0, msec = 0, digits = 0;
    if (!Number(hour, digits, 2)) return false;
    // A bare hour ("14") is a time too, as the platform's parser has it.
    if (Char(FFs.TimeSeparator)) {
      if (!Number(min, digits, 2)) return false;
      if (Char(FFs.TimeSeparator)) {
        if (!Number(sec, digits, 2)) return false;
        if (Char('.') || (FFs.DecimalSeparator != '.' && Char(FFs.DecimalSeparator))) {
          if (!Number(msec, digits, 3)) return false;
        }
      }
    }
    int ampm = AmPm();
    if (ampm != 0) {
      if (hour < 1 || hour > 12) return false;
      if (ampm == 1 && hour == 12) hour = 0;
      if (ampm == 2 && hour < 12) hour += 12;
    }
    return TryEncodeTime(hour, min, sec, msec, result);
  }

 private:
  // 0 none, 1 AM, 2 PM.
  int AmPm() {
    if (!FFs.TimeAMString.empty() && Word(FFs.TimeAMString)) return 1;
    if (!FFs.TimePMString.empty() && Word(FFs.TimePMString)) return 2;
    if (Word("AM")) return 1;
    if (Word("PM")) return 2;
    return 0;
  }

  std::string_view FText;
  const TFormatSettings& FFs;
  size_t FPos = 0;
};

[[noreturn]] void Invalid(std::string_view text, const char* what) {
  throw EConvertError("'" + std::string(text) + "' is not a valid " + what);
}

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime value, const TFormatSettings& fs) {
  return DateFormatter(value, fs).Run(format);
}

std::string FormatDateTime(std::string_view format, TDateTime value) {
  return FormatDateTime(format, value, FormatSettings());
}

std::string DateToStr(TDateTime value, const TFormatSettings& fs) {
  return FormatDateTime("ddddd", value, fs);
}
std::string DateToStr(TDateTime value) { return DateToStr(value, FormatSettings()); }
std::string TimeToStr(TDateTime value, const TFormatSettings& fs) {
  return FormatDateTime("tt", value, fs);
}
std::string TimeToStr(TDateTime value) { return TimeToStr(value, FormatSettings()); }
std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs) {
  return FormatDateTime("c", value, fs);
}
std::string DateTimeToStr(TDateTime value) { return DateTimeToStr(value, FormatSettings()); }

bool TryStrToDate(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  Scanner s(text, fs);
  TDateTime date;
  if (!s.Date(date) || !s.AtEnd()) return false;
  value = date;
  return true;
}

bool TryStrToTime(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  Scanner s(text, fs);
  TDateTime time;
  if (!s.Time(time) || !s.AtEnd()) return false;
  value = time;
  return true;
}

bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& fs) {
  Scanner s(text, fs);
  TDateTime date;
  if (!s.Date(date)) {
    // A time alone is a date-time on day 0.
    Scanner t(text, fs);
    TDateTime time;
    if (!t.Time(time) || !t.AtEnd()) return false;
    value = time;
    return true;
  }
  TDateTime time = 0;
  if (!s.AtEnd() && (!s.Time(time) || !s.AtEnd())) return false;
  value = date >= 0 ? date + time : date - time;
  return true;
}

TDateTime StrToDate(std::string_view text, const TFormatSettings& fs) {
  TDateTime value;
  if (!TryStrToDate(text, value, fs)) Invalid(text, "date");
  return value;
}
TDateTime StrToDate(std::string_view text) { return StrToDate(text, FormatSettings()); }

TDateTime StrToTime(std::string_view text, const TFormatSettings& fs) {
  TDateTime value;
  if (!TryStrToTime(text, value, fs)) Invalid(text, "time");
  return value;
}
TDateTime StrToTime(std::string_view text) { return StrToTime(text, FormatSettings()); }

TDateTime StrToDateTime(std::string_view text, const TFormatSettings& fs) {
  TDateTime value;
  if (!TryStrToDateTime(text, value, fs)) Invalid(text, "date and time");
  return value;
}
TDateTime StrToDateTime(std::string_view text) { return StrToDateTime(text, FormatSettings()); }

}  // namespace rtl
