// The locale-dependent conventions that the run-time layer's text conversions
// follow: separators, date and time patterns, month and day names, and how money
// is written.
//
// One process-wide instance, FormatSettings(), is built on first use from the
// process locale (LC_ALL / LANG, read through newlocale and nl_langinfo without
// touching the process's current locale). Every conversion routine also has an
// overload taking an explicit TFormatSettings, so code that needs fixed
// conventions (the engine's '.' decimal separator) passes its own instead of
// changing the shared one; nothing in the system changes the process-wide
// settings to parse or format.
//
// SetFormatSettings replaces the process-wide instance. It is meant for the
// library's load-time set-up and for tests (ScopedFormatSettings restores the
// previous value); it is not safe while other threads convert text.
//
// Texts are Windows-1252, like every 8-bit string inside the system.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace rtl {

struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';  // '\0' when the locale groups no digits
  char DateSeparator = '/';
  char TimeSeparator = ':';

  // Date and time patterns in the FormatDateTime notation ("M/d/yyyy", "h:mm AMPM" ...);
  // '/' and ':' in a pattern stand for DateSeparator and TimeSeparator.
  std::string ShortDateFormat = "M/d/yyyy";
  std::string LongDateFormat = "dddd, MMMM d, yyyy";
  std::string ShortTimeFormat = "h:mm AMPM";
  std::string LongTimeFormat = "h:mm:ss AMPM";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";

  // January first; Sunday first.
  std::array<std::string, 12> ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames = {"January",   "February", "March",    "April",
                                                "May",       "June",     "July",     "August",
                                                "September", "October",  "November", "December"};
  std::array<std::string, 7> ShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                             "Thursday", "Friday", "Saturday"};

  // Money: CurrencyFormat places the symbol around a positive amount
  // (0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"); NegCurrFormat is one of the sixteen
  // negative layouts 0 "($1)" ... 15 "(1 $)".
  std::string CurrencyString = "$";
  uint8_t CurrencyFormat = 0;
  uint8_t NegCurrFormat = 0;
  uint8_t CurrencyDecimals = 2;

  // A two-digit year read from text falls within the 100 years that start this
  // many years before the current year (0: always the current century).
  int TwoDigitYearCenturyWindow = 50;

  // Fixed, locale-free conventions: '.' decimals, ',' thousands, US-style
  // dates and English names. These are also the member defaults above.
  static TFormatSettings Invariant() { return TFormatSettings{}; }

  // The conventions of a named POSIX locale ("" = the environment's), read
  // without changing the process's locale. A locale that cannot be loaded gives
  // Invariant().
  static TFormatSettings FromLocale(const std::string& localeName);
};

// The process-wide settings. The engine's start-up creates them from the
// environment's locale (CreateFormatSettings) and its shut-down frees them;
// a program that uses the platform without the engine gets them built on
// first use.
const TFormatSettings& FormatSettings();

// Reads the settings afresh from the environment's locale, replacing the
// process-wide ones; FreeFormatSettings drops them. Start-up and shut-down only.
void CreateFormatSettings();
void FreeFormatSettings() noexcept;

// Replaces the process-wide settings (load-time set-up and tests only).
void SetFormatSettings(const TFormatSettings& settings);

// Installs settings for the lifetime of the object and restores the previous
// ones afterwards; tests use it to run under a ',' or '.' locale.
class ScopedFormatSettings {
 public:
  explicit ScopedFormatSettings(const TFormatSettings& settings);
  ~ScopedFormatSettings();
  ScopedFormatSettings(const ScopedFormatSettings&) = delete;
  ScopedFormatSettings& operator=(const ScopedFormatSettings&) = delete;

 private:
  TFormatSettings FPrevious;
};

}  // namespace rtl
