#include "OtaGfgIni.h"

#include <functional>

#include "os/Paths.h"
#include "rtl/Exception.h"

namespace valmora {

namespace {

constexpr std::string_view kRoot = "\\Software\\Lodgemark\\";
constexpr std::string_view kUserDocsToken = "{userdocs}";

std::string KeyPath(std::string_view key) { return std::string(kRoot) + std::string(key); }

// Runs a reader against one key and gives the default on any failure; the key
// is opened (and so created) first, whatever the reader then finds.
template <class T>
T ReadOr(std::string_view key, const T& fallback, const std::function<T(reg::TRegistry&)>& read) {
  auto registry = CreateSettingsRegistry();
  registry->OpenKey(KeyPath(key), true);
  try {
    return read(*registry);
  } catch (const std::exception&) {
    return fallback;
  }
}

// Writers let a failure through: an unopened key makes the write raise.
void WriteWith(std::string_view key, const std::function<void(reg::TRegistry&)>& write) {
  auto registry = CreateSettingsRegistry();
  registry->OpenKey(KeyPath(key), true);
  write(*registry);
}

bool ReadBoolOr(std::string_view key, std::string_view name, bool fallback) {
  return ReadOr<bool>(key, fallback, [&](reg::TRegistry& r) { return r.ReadBool(name); });
}

int32_t ReadIntOr(std::string_view key, std::string_view name, int32_t fallback) {
  return ReadOr<int32_t>(key, fallback, [&](reg::TRegistry& r) { return r.ReadInteger(name); });
}

std::string ReadTextOr(std::string_view key, std::string_view name, const std::string& fallback,
                       bool emptyGivesDefault) {
  return ReadOr<std::string>(key, fallback, [&](reg::TRegistry& r) {
    std::string value = r.ReadString(name);
    return value.empty() && emptyGivesDefault ? fallback : value;
  });
}

constexpr std::string_view kGstSettings = "GSTSettings";
constexpr std::string_view kGstCode = "GSTCode";
constexpr std::string_view kValmora = "Valmora";
constexpr std::string_view kCorvanta = "Corvanta";
constexpr std::string_view kPreference = "Preference";
constexpr std::string_view kDataDirectory = "DataDirectory";

void CheckRoomType(int roomType) {
  if (roomType < 1 || roomType > kRoomTypeCount)
    throw rtl::Exception("Room type " + std::to_string(roomType) + " is out of range 1.." +
                         std::to_string(kRoomTypeCount));
}

void ReadTypeDescriptions(int first, std::array<std::string, 8>& names) {
  std::array<std::string, 8> defaults;
  for (int i = 0; i < 8; ++i) defaults[i] = "Type" + std::to_string(first + i);
  names = ReadOr<std::array<std::string, 8>>(kPreference, defaults, [&](reg::TRegistry& r) {
    std::array<std::string, 8> read;
    for (int i = 0; i < 8; ++i) {
      read[i] = r.ReadString("TypeDesc" + std::to_string(first + i));
      if (read[i].empty()) read[i] = defaults[i];
    }
    return read;
  });
}

}  // namespace

std::string GetMyDocumentsPath() {
  std::string path;
  try {
    path = os::DocumentsFolder();
  } catch (const std::exception&) {
    throw rtl::Exception("Could not determine My Documents path");
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ExpandUserDocs(const std::string& path) {
  std::string documents = GetMyDocumentsPath();
  if (path.starts_with(kUserDocsToken)) return documents + path.substr(kUserDocsToken.size());
  return path;
}

std::unique_ptr<reg::TRegistry> CreateSettingsRegistry() {
  return std::make_unique<reg::TRegistry>(reg::CurrentUserStore());
}

ui::TColor ReadGridStripeColor() {
  return ReadOr<ui::TColor>("ScreenSettings", ui::clCream, [](reg::TRegistry& r) {
    auto color = ui::TryStringToColor(r.ReadString("GridStripeColor"));
    if (!color) throw rtl::EConvertError("not a colour");
    return *color;
  });
}

bool ReadGSTInclusive() { return ReadBoolOr(kGstSettings, "GSTInclusive", true); }
bool ReadAlwaysAddFixedTax() { return ReadBoolOr(kGstSettings, "AlwaysAddFixedTax", false); }
bool ReadFixedTaxFirst() { return ReadBoolOr(kGstSettings, "FixedTaxFirst", true); }
bool ReadCumulativeTax() { return ReadBoolOr(kGstSettings, "CumulativeTax", true); }
bool ReadFixedInPercent() { return ReadBoolOr(kGstSettings, "FixedInPercent", true); }

void ReadGSTCodes(std::array<std::string, 6>& codes, std::array<rtl::Currency, 6>& rates,
                  std::array<std::string, 6>& descriptions) {
  struct Group {
    std::array<std::string, 6> Codes{"S", "E", "N", "Z", "A", "B"};
    std::array<rtl::Currency, 6> Rates{rtl::Currency::FromRaw(10 * rtl::Currency::Scale)};
    std::array<std::string, 6> Descriptions{"Standard", "Exempt", "Non-Taxable", "", "", ""};
  };
  // One failure anywhere defaults all eighteen values, also those already read.
  Group group = ReadOr<Group>(kGstCode, Group{}, [](reg::TRegistry& r) {
    Group read;
    for (int n = 1; n <= 6; ++n) {
      std::string suffix = std::to_string(n);
      read.Codes[n - 1] = r.ReadString("GSTCode" + suffix);
      read.Rates[n - 1] = rtl::Currency::FromDouble(r.ReadFloat("GSTRate" + suffix));
      read.Descriptions[n - 1] = r.ReadString("GSTDescription" + suffix);
    }
    return read;
  });
  codes = group.Codes;
  rates = group.Rates;
  descriptions = group.Descriptions;
}

void ReadAddTaxFlags(bool& addTax2, bool& addTax3, bool& addTax4) {
  auto flags = ReadOr<std::array<bool, 3>>(kGstCode, {false, false, false}, [](reg::TRegistry& r) {
    return std::array<bool, 3>{r.ReadBool("AddTax2"), r.ReadBool("AddTax3"), r.ReadBool("AddTax4")};
  });
  addTax2 = flags[0];
  addTax3 = flags[1];
  addTax4 = flags[2];
}

rtl::Currency ReadFixedTax() {
  return ReadOr<rtl::Currency>("GSTLabel", rtl::Currency{}, [](reg::TRegistry& r) {
    return rtl::Currency::FromDouble(r.ReadFloat("FixedTax"));
  });
}

int32_t ReadLanguage() {
  int32_t fallback = ProductTitle == "Le Vantel" ? 4 : 1;
  return ReadIntOr("MainWindow", "Language", fallback);
}

void ReadTypeDescriptions1To8(std::array<std::string, 8>& names) { ReadTypeDescriptions(1, names); }
void ReadTypeDescriptions9To16(std::array<std::string, 8>& names) {
  ReadTypeDescriptions(9, names);
}

int32_t ReadLastAutoGenNo() { return ReadIntOr(kPreference, "LastAutoGenNo", 1); }
int32_t ReadMaxNoNights() { return ReadIntOr(kPreference, "MaxNoNights", 32); }

rtl::TDateTime ReadDefaultArrival() {
  return ReadOr<rtl::TDateTime>(kPreference, 0.0,
                                [](reg::TRegistry& r) { return r.ReadFloat("DefaultArrival"); });
}

std::string ReadLanguageFile() {
  std::string fallback = GetMyDocumentsPath() + "/Reservation/Lan/Language.sil";
  return ExpandUserDocs(ReadTextOr(kPreference, "LanguageFile", fallback, true));
}

std::string ReadDataDir() {
  std::string fallback = GetMyDocumentsPath() + "/Reservation/Database";
  return ExpandUserDocs(ReadTextOr(kDataDirectory, "DataDir", fallback, true));
}

std::string ReadDataBaseFileName() {
  return ReadTextOr(kDataDirectory, "DataBaseFileName", "Reservation.vex", true);
}

std::string ReadLogIn() { return ReadTextOr(kValmora, "LogIn", "", false); }
std::string ReadVendorID() { return ReadTextOr(kValmora, "VendorID", "", false); }
std::string ReadServiceUrl() {
  return ReadTextOr(kValmora, "ValmoraAvailReqUlr", std::string(DefaultServiceUrl), true);
}
int32_t ReadMaxAllocation() { return ReadIntOr(kValmora, "MaxAllocation", 0); }
int32_t ReadCurrencyCode() { return ReadIntOr(kValmora, "CurrencyCode", 0); }
int32_t ReadFullFlush() { return ReadIntOr(kValmora, "FullFlush", 0); }
int32_t ReadFlushTime() { return ReadIntOr(kValmora, "FlushTime", 0); }
int32_t ReadAutoCheck() { return ReadIntOr(kValmora, "AutoCheck", 0); }
bool ReadRecalcOccupancy() { return ReadBoolOr(kValmora, "RecalcOccupancy", true); }
bool ReadShowmessage() { return ReadBoolOr(kValmora, "Showmessage", true); }

void WriteLogIn(const std::string& value) {
  WriteWith(kValmora, [&](reg::TRegistry& r) { r.WriteString("LogIn", value); });
}
void WriteVendorID(const std::string& value) {
  WriteWith(kValmora, [&](reg::TRegistry& r) { r.WriteString("VendorID", value); });
}
void WriteServiceUrl(const std::string& value) {
  WriteWith(kValmora, [&](reg::TRegistry& r) { r.WriteString("ValmoraAvailReqUlr", value); });
}

namespace {
void WriteValmoraInt(std::string_view name, int32_t value) {
  WriteWith(kValmora, [&](reg::TRegistry& r) { r.WriteInteger(name, value); });
}
void WriteValmoraBool(std::string_view name, bool value) {
  WriteWith(kValmora, [&](reg::TRegistry& r) { r.WriteBool(name, value); });
}
}  // namespace

void WriteMaxAllocation(int32_t value) { WriteValmoraInt("MaxAllocation", value); }
void WriteCurrencyCode(int32_t value) { WriteValmoraInt("CurrencyCode", value); }
void WriteFullFlush(int32_t value) { WriteValmoraInt("FullFlush", value); }
void WriteFlushTime(int32_t value) { WriteValmoraInt("FlushTime", value); }
void WriteAutoCheck(int32_t value) { WriteValmoraInt("AutoCheck", value); }
void WriteRecalcOccupancy(bool value) { WriteValmoraBool("RecalcOccupancy", value); }
void WriteShowmessage(bool value) { WriteValmoraBool("Showmessage", value); }

std::string ReadRoomId(int roomType) {
  CheckRoomType(roomType);
  return ReadTextOr(kValmora, "RoomId" + std::to_string(roomType), "", false);
}

void WriteRoomId(int roomType, const std::string& value) {
  CheckRoomType(roomType);
  WriteWith(kValmora,
            [&](reg::TRegistry& r) { r.WriteString("RoomId" + std::to_string(roomType), value); });
}

int32_t ReadStopSale(int roomType) {
  CheckRoomType(roomType);
  return ReadIntOr(kValmora, "StopSale" + std::to_string(roomType), 0);
}

void WriteStopSale(int roomType, int32_t value) {
  CheckRoomType(roomType);
  WriteValmoraInt("StopSale" + std::to_string(roomType), value);
}

void WriteCorvantaHasError(bool value) {
  WriteWith(kCorvanta, [&](reg::TRegistry& r) { r.WriteBool("CorvantaHasError", value); });
}

void WriteCorvantaErrorMsg(const std::string& value) {
  WriteWith(kCorvanta, [&](reg::TRegistry& r) { r.WriteString("CorvantaErrorMsg", value); });
}

}  // namespace valmora
