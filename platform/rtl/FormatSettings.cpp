#include "rtl/FormatSettings.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cctype>
#include <climits>
#include <memory>
#include <mutex>

#include "rtl/CodePage.h"

namespace rtl {

namespace {

// Translates a strftime pattern of the locale into the FormatDateTime notation;
// `separator` receives the first separator the pattern uses ('\0' for none).
std::string FromStrftime(const std::string& pattern, char& separator, bool& ampm) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c != '%') {
      bool isSeparator = !std::isalnum(static_cast<unsigned char>(c)) && c != ' ' && c != ',';
      if (isSeparator && separator == '\0') separator = c;
      if (isSeparator && c == separator) {
        out += '\x01';
      } else if (std::isalpha(static_cast<unsigned char>(c))) {
        out += '"';
        out += c;
        out += '"';
      } else {
        out += c;
      }
      continue;
    }
    if (++i >= pattern.size()) break;
    char f = pattern[i];
    if (f == 'E' || f == 'O' || f == '-' || f == '_' || f == '0' || f == '^' || f == '#') {
      if (++i >= pattern.size()) break;
      f = pattern[i];
    }
    switch (f) {
      case 'd':
        out += "dd";
        break;
      case 'e':
        out += "d";
        break;
      case 'm':
        out += "MM";
        break;
      case 'b':
      case 'h':
        out += "MMM";
        break;
      case 'B':
        out += "MMMM";
        break;
      case 'y':
        out += "yy";
        break;
      case 'Y':
      case 'C':
        out += "yyyy";
        break;
      case 'a':
        out += "ddd";
        break;
      case 'A':
        out += "dddd";
        break;
      case 'H':
        out += "hh";
        break;
      case 'k':
        out += "h";
        break;
      case 'I':
        out += "hh";
        ampm = true;
        break;
      case 'l':
        out += "h";
        ampm = true;
        break;
      case 'M':
        out += "nn";
        break;
      case 'S':
        out += "ss";
        break;
      case 'p':
      case 'P':
        out += "AMPM";
        ampm = true;
        break;
      case 'D':
        out += "MM\001dd\001yy";
        if (separator == '\0') separator = '/';
        break;
      case 'F':
        out += "yyyy\001MM\001dd";
        if (separator == '\0') separator = '-';
        break;
      case 'T':
        out += "hh\001nn\001ss";
        if (separator == '\0') separator = ':';
        break;
      case 'R':
        out += "hh\001nn";
        if (separator == '\0') separator = ':';
        break;
      case 'r':
        out += "hh\001nn\001ss AMPM";
        ampm = true;
        if (separator == '\0') separator = ':';
        break;
      case 'n':
      case 't':
        out += ' ';
        break;
      case '%':
        out += '%';
        break;
      default:
        break;  // time zone and the like: not part of our patterns
    }
  }
  return out;
}

// '\x01' marks where the locale's separator stood; in our patterns that is '/'
// for dates and ':' for times.
std::string WithSeparator(std::string pattern, char mark) {
  for (char& c : pattern) {
    if (c == '\x01') c = mark;
  }
  // Trim blanks the locale may leave at either end ("%l:%M %p" on some locales).
  while (!pattern.empty() && pattern.back() == ' ') pattern.pop_back();
  while (!pattern.empty() && pattern.front() == ' ') pattern.erase(pattern.begin());
  return pattern;
}

std::string Item(locale_t loc, nl_item item) { return Utf8ToWin1252(nl_langinfo_l(item, loc)); }

char OneChar(const std::string& text, char fallback) {
  return text.size() == 1 ? text[0] : fallback;
}

struct LocaleDeleter {
  void operator()(locale_t loc) const { freelocale(loc); }
};

// The settings in force, published through an atomic pointer so that readers
// need no lock; replaced and freed only at start-up, shut-down and in tests.
std::atomic<TFormatSettings*> gCurrent{nullptr};
std::mutex gCurrentMutex;  // serialises creating and freeing
std::unique_ptr<TFormatSettings> gOwned;

}  // namespace

TFormatSettings TFormatSettings::FromLocale(const std::string& localeName) {
  TFormatSettings fs;
  locale_t raw = newlocale(LC_ALL_MASK, localeName.c_str(), static_cast<locale_t>(0));
  if (raw == static_cast<locale_t>(0)) return fs;
  std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleDeleter> loc(raw);

  fs.DecimalSeparator = OneChar(Item(raw, RADIXCHAR), '.');
  std::string thousands = Item(raw, THOUSEP);
  fs.ThousandSeparator = thousands.empty() ? '\0' : OneChar(thousands, ' ');
  if (fs.ThousandSeparator == fs.DecimalSeparator) fs.ThousandSeparator = '\0';

  bool ampm = false;
  char dateSep = '\0';
  std::string shortDate = FromStrftime(nl_langinfo_l(D_FMT, raw), dateSep, ampm);
  if (dateSep != '\0') fs.DateSeparator = dateSep;
  fs.ShortDateFormat = WithSeparator(shortDate, '/');
  // A four-digit year reads better and parses without a century window.
  if (fs.ShortDateFormat.find("yyyy") == std::string::npos) {
    size_t y = fs.ShortDateFormat.find("yy");
    if (y != std::string::npos) fs.ShortDateFormat.insert(y, "yy");
  }
  fs.LongDateFormat = fs.ShortDateFormat.find('M') < fs.ShortDateFormat.find('d')
                          ? "dddd, MMMM d, yyyy"
                          : "dddd, d MMMM yyyy";

  char timeSep = '\0';
  ampm = false;
  std::string longTime = WithSeparator(FromStrftime(nl_langinfo_l(T_FMT, raw), timeSep, ampm), ':');
  if (timeSep != '\0') fs.TimeSeparator = timeSep;
  fs.LongTimeFormat = longTime.empty() ? "hh:nn:ss" : longTime;
  std::string shortTime = fs.LongTimeFormat;
  size_t seconds = shortTime.find(":ss");
  if (seconds != std::string::npos) shortTime.erase(seconds, 3);
  fs.ShortTimeFormat = shortTime;
  fs.TimeAMString = Item(raw, AM_STR);
  fs.TimePMString = Item(raw, PM_STR);

  for (int m = 0; m < 12; ++m) {
    fs.ShortMonthNames[m] = Item(raw, static_cast<nl_item>(ABMON_1 + m));
    fs.LongMonthNames[m] = Item(raw, static_cast<nl_item>(MON_1 + m));
  }
  for (int d = 0; d < 7; ++d) {
    fs.ShortDayNames[d] = Item(raw, static_cast<nl_item>(ABDAY_1 + d));
    fs.LongDayNames[d] = Item(raw, static_cast<nl_item>(DAY_1 + d));
  }

  // Money. CRNCYSTR is the symbol preceded by '-' (before the amount), '+'
  // (after it) or '.' (in place of the decimal point, which we do not follow).
  std::string symbol = Item(raw, CRNCYSTR);
  if (symbol.size() > 1) {
    fs.CurrencyString = symbol.substr(1);
    int precedes = *nl_langinfo_l(__P_CS_PRECEDES, raw);
    int separated = *nl_langinfo_l(__P_SEP_BY_SPACE, raw);
    bool before = precedes == 1 || (precedes == CHAR_MAX && symbol[0] == '-');
    bool blank = separated == 1;
    fs.CurrencyFormat = static_cast<uint8_t>((before ? 0 : 1) + (blank ? 2 : 0));
    // A minus sign in front of everything, with the symbol where it stands in a
    // positive amount: "-$1", "-1$", "-$ 1", "-1 $".
    static const uint8_t kNegative[4] = {1, 5, 9, 8};
    fs.NegCurrFormat = kNegative[fs.CurrencyFormat];
    int decimals = *nl_langinfo_l(__FRAC_DIGITS, raw);
    if (decimals >= 0 && decimals <= 4) fs.CurrencyDecimals = static_cast<uint8_t>(decimals);
  }
  return fs;
}

const TFormatSettings& FormatSettings() {
  if (TFormatSettings* current = gCurrent.load(std::memory_order_acquire)) return *current;
  std::lock_guard guard(gCurrentMutex);
  if (!gOwned) {
    gOwned = std::make_unique<TFormatSettings>(TFormatSettings::FromLocale(""));
    gCurrent.store(gOwned.get(), std::memory_order_release);
  }
  return *gOwned;
}

void CreateFormatSettings() {
  auto fresh = std::make_unique<TFormatSettings>(TFormatSettings::FromLocale(""));
  std::lock_guard guard(gCurrentMutex);
  if (gOwned) {
    *gOwned = *fresh;  // readers may hold a reference: keep the object
  } else {
    gOwned = std::move(fresh);
    gCurrent.store(gOwned.get(), std::memory_order_release);
  }
}

void FreeFormatSettings() noexcept {
  std::lock_guard guard(gCurrentMutex);
  gCurrent.store(nullptr, std::memory_order_release);
  gOwned.reset();
}

void SetFormatSettings(const TFormatSettings& settings) {
  FormatSettings();  // make sure the lazy build does not later overwrite this
  std::lock_guard guard(gCurrentMutex);
  *gOwned = settings;
}

ScopedFormatSettings::ScopedFormatSettings(const TFormatSettings& settings)
    : FPrevious(FormatSettings()) {
  SetFormatSettings(settings);
}

ScopedFormatSettings::~ScopedFormatSettings() { SetFormatSettings(FPrevious); }

}  // namespace rtl
