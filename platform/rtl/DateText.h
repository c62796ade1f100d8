// Dates and times as text in the conventions of a TFormatSettings.
//
// FormatDateTime tokens (letters in either case):
//   d dd          day without / with leading zero     ddd dddd  short / long day name
//   ddddd dddddd  short / long date format            m mm      month (minutes right after h/hh)
//   mmm mmmm      short / long month name              yy yyyy   two / four-digit year
//   h hh          hour                                 n nn      minutes
//   s ss          seconds                              z zzz     milliseconds
//   t tt          short / long time format             c         short date, then long time unless
//   midnight am/pm a/p     "am"/"pm", "a"/"p" (as written), 12-hour clock ampm TimeAMString /
//   TimePMString, 12-hour clock /             the date separator                   :         the
//   time separator
//   '...' "..."   literal text                          anything else is copied as it stands
//
// The parsers read digits in the order the short date format gives (day, month,
// year in any order) separated by the date separator; a two-digit year falls in
// the century window; a missing year is the current one. Times are
// h[:n[:s[.z]]] with an optional AM/PM word. Leading and trailing blanks are
// allowed. Bad text raises EConvertError "'...' is not a valid date" (time, date
// and time).
#pragma once

#include <string>
#include <string_view>

#include "rtl/DateTime.h"
#include "rtl/FormatSettings.h"

namespace rtl {

std::string FormatDateTime(std::string_view format, TDateTime value);
std::string FormatDateTime(std::string_view format, TDateTime value, const TFormatSettings& fs);

std::string DateToStr(TDateTime value);  // short date format
std::string DateToStr(TDateTime value, const TFormatSettings& fs);
std::string TimeToStr(TDateTime value);  // long time format
std::string TimeToStr(TDateTime value, const TFormatSettings& fs);
std::string DateTimeToStr(TDateTime value);  // "c"
std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs);

TDateTime StrToDate(std::string_view text);
TDateTime StrToDate(std::string_view text, const TFormatSettings& fs);
TDateTime StrToTime(std::string_view text);
TDateTime StrToTime(std::string_view text, const TFormatSettings& fs);
TDateTime StrToDateTime(std::string_view text);
TDateTime StrToDateTime(std::string_view text, const TFormatSettings& fs);

bool TryStrToDate(std::string_view text, TDateTime& value, const TFormatSettings& fs);
bool TryStrToTime(std::string_view text, TDateTime& value, const TFormatSettings& fs);
bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& fs);

}  // namespace rtl
