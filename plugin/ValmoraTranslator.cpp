#include "ValmoraTranslator.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include "rtl/CodePage.h"

namespace valmora {

namespace {

struct BuiltIn {
  const char* Identifier;
  const char* English;
};

// In DialogTexts order. Written for this plug-in: the host's own language file
// normally overrides them.
constexpr std::array<BuiltIn, DialogTextCount> kBuiltIn{{
    {"rsBookingRetrival", "Booking retrieval"},
    {"rsAvailabilityUpdate", "Availability update"},
    {"rsRateUpdate", "Rate update"},
    {"rsDontCheck", "Don't check"},
    {"rsDontUpdate", "Don't update"},
    {"rsEveryDay", "Every day"},
    {"rsMinutes", "minutes"},
    {"rsHours", "hours"},
    {"rsToday", "Today"},
    {"rsday", "day"},
    {"rsdays", "days"},
    {"rsClose", "Close"},
    {"rsError", "Error"},
    {"rsInformation", "Information"},
    {"rsNoreservation", "No reservations"},
    {"rsNoNewReservation", "There are no new reservations."},
    {"rsNewReservation", "New reservations"},
    {"rsNewReservRecorded", "reservation(s) recorded"},
    {"rsType", "Type"},
    {"rsCode", "Code"},
    {"rsBookingNo", "Booking no."},
    {"rsWrongDates", "Wrong dates"},
    {"rsFromAfterTo", "The From date lies after the To date."},
    {"rsNoDays", "Too many days"},
    {"rsDontSelectMore", "Please do not select more than 365 days."},
    {"rsCompany", "Company information"},
    {"rsEnterCompany", "Please enter the login, the vendor ID and the Valmora address."},
    {"rsRoomType", "Room ID"},
    {"rsPleaseEnterRoomType", "Please enter a room ID for every room type whose rate is sent."},
    {"rsRateCode", "Rate code"},
    {"rsPleaseEnterRateCode", "Please enter a rate code."},
    {"rsErrorSendingMessage", "The message could not be sent."},
    {"rsExist", "already recorded"},
    {"rsCancelled", "cancelled"},
    {"rsGuestCode", "Guest code"},
    {"rsGuestID", "Guest ID"},
    {"rsBookingDate", "Booking date"},
    {"rsArrivalDate", "Arrival date"},
    {"rsRoomNo", "Room no."},
    {"rsTravelAgent", "Travel agent"},
}};

constexpr std::array<const char*, DialogTextCount> Identifiers() {
  std::array<const char*, DialogTextCount> ids{};
  for (size_t i = 0; i < DialogTextCount; ++i) ids[i] = kBuiltIn[i].Identifier;
  return ids;
}

// A larger file is no language file; refusing it keeps a wrong path from
// reading gigabytes.
constexpr std::streamsize kMaxFileSize = 16 * 1024 * 1024;

[[noreturn]] void FormatError(std::string_view source, size_t line, const std::string& what) {
  throw ELanguageFileError("Language file '" + std::string(source) + "', line " +
                           std::to_string(line) + ": " + what);
}

std::vector<std::string_view> Cells(std::string_view line) {
  std::vector<std::string_view> cells;
  size_t begin = 0;
  while (true) {
    size_t tab = line.find('\t', begin);
    cells.push_back(line.substr(begin, tab == std::string_view::npos ? tab : tab - begin));
    if (tab == std::string_view::npos) return cells;
    begin = tab + 1;
  }
}

// The cell's text in Windows-1252 with its escapes resolved. A backslash before
// any other character is kept as written, so that paths need no doubling.
std::string CellText(std::string_view cell) {
  std::string raw;
  for (size_t i = 0; i < cell.size(); ++i) {
    char c = cell[i];
    if (c == '\\' && i + 1 < cell.size()) {
      switch (cell[i + 1]) {
        case 'n':
          raw += '\n';
          ++i;
          continue;
        case 'r':
          raw += '\r';
          ++i;
          continue;
        case 't':
          raw += '\t';
          ++i;
          continue;
        case '\\':
          raw += '\\';
          ++i;
          continue;
        default:
          break;
      }
    }
    raw += c;
  }
  return rtl::Utf8ToWin1252(raw);
}

}  // namespace

const std::array<const char*, DialogTextCount> DialogTextIdentifiers = Identifiers();

const char* BuiltInText(std::string_view identifier) {
  for (const BuiltIn& entry : kBuiltIn)
    if (identifier == entry.Identifier) return entry.English;
  return nullptr;
}

const std::vector<std::string>& Translator::DefaultLanguages() {
  static const std::vector<std::string> names{"English", "Dutch", "French", "Italian", "Spanish"};
  return names;
}

Translator::Translator() : FLanguages(DefaultLanguages()) {}

void Translator::Clear() {
  FLanguages = DefaultLanguages();
  FTexts.clear();
}

void Translator::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw ELanguageFileError("Cannot read the language file '" + path +
                             "': " + std::strerror(errno));
  }
  in.seekg(0, std::ios::end);
  std::streamsize size = in.tellg();
  if (size > kMaxFileSize) {
    throw ELanguageFileError("The language file '" + path + "' is too large to be one");
  }
  in.seekg(0, std::ios::beg);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw ELanguageFileError("Cannot read the language file '" + path + "'");
  LoadFromText(text, path);
}

void Translator::LoadFromText(std::string_view utf8, std::string_view source) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  if (utf8.substr(0, kBom.size()) == kBom) utf8.remove_prefix(kBom.size());

  std::vector<std::string> languages;
  std::map<std::string, std::vector<std::string>, std::less<>> texts;
  bool haveHeader = false;
  size_t lineNo = 0;
  size_t begin = 0;
  while (begin < utf8.size()) {
    size_t end = utf8.find('\n', begin);
    if (end == std::string_view::npos) end = utf8.size();
    std::string_view line = utf8.substr(begin, end - begin);
    begin = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;

    std::vector<std::string_view> cells = Cells(line);
    if (!haveHeader) {
      haveHeader = true;
      if (cells.size() < 2) FormatError(source, lineNo, "the header names no language");
      for (size_t i = 1; i < cells.size(); ++i) {
        if (cells[i].empty())
          FormatError(source, lineNo, "language " + std::to_string(i) + " has no name");
        languages.push_back(CellText(cells[i]));
      }
      continue;
    }
    if (cells[0].empty()) FormatError(source, lineNo, "a line without identifier");
    if (cells.size() - 1 > languages.size()) {
      FormatError(source, lineNo,
                  "more texts than the " + std::to_string(languages.size()) + " languages");
    }
    std::string identifier(cells[0]);
    if (texts.count(identifier) != 0)
      FormatError(source, lineNo, "'" + identifier + "' is translated twice");
    std::vector<std::string> row;
    for (size_t i = 1; i < cells.size(); ++i) row.push_back(CellText(cells[i]));
    texts.emplace(std::move(identifier), std::move(row));
  }
  if (!haveHeader) FormatError(source, lineNo, "the file holds no header line");

  FLanguages = std::move(languages);
  FTexts = std::move(texts);
}

void Translator::SetActiveLanguage(int32_t number) {
  if (number == FActive) return;
  FActive = number;
  std::function<void()> handler = OnChangeLanguage;
  if (handler) handler();
}

std::string Translator::Text(std::string_view identifier) const {
  auto it = FTexts.find(identifier);
  if (it != FTexts.end()) {
    const std::vector<std::string>& row = it->second;
    if (FActive >= 1 && static_cast<size_t>(FActive) <= row.size() && !row[FActive - 1].empty())
      return row[FActive - 1];
    if (!row.empty() && !row[0].empty()) return row[0];
  }
  const char* builtIn = BuiltInText(identifier);
  return builtIn != nullptr ? builtIn : std::string();
}

}  // namespace valmora
