// The plug-in's settings: one accessor routine per registry value, or per small
// group of values read together, below HKEY_CURRENT_USER\Software\Lodgemark.
//
// Readers never raise for registry reasons: a value that is missing, of the
// wrong type or unreadable gives the documented default (group readers default
// the whole group when any of its values fails). Every key an accessor touches
// is opened with create-if-missing, so reading a host key that does not exist
// creates it empty. Writers let a registry failure through to their caller.
// Nothing is cached: every call goes to the registry.
//
// Texts are Windows-1252. Money is rtl::Currency (amount × 10 000).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "registry/Registry.h"
#include "rtl/Currency.h"
#include "rtl/DateTime.h"
#include "ui/Colors.h"

namespace valmora {

constexpr int kRoomTypeCount = 16;

// The address every request is posted to unless the settings name another.
inline constexpr std::string_view DefaultServiceUrl =
    "https://channel.valmora.example/webinterface.php?dialog=v2";

// The product title of this build, which decides the default language.
inline constexpr std::string_view ProductTitle = "Lodge Mark";

// The Documents folder of the current user, without a trailing separator.
// Raises rtl::Exception "Could not determine My Documents path" when it cannot
// be determined.
std::string GetMyDocumentsPath();
// A text beginning with "{userdocs}" with that token replaced by the Documents
// folder; any other text unchanged. Asks for the folder in every case.
std::string ExpandUserDocs(const std::string& path);
// The registry object of one accessor, rooted at HKEY_CURRENT_USER.
std::unique_ptr<reg::TRegistry> CreateSettingsRegistry();

// Host keys (read only).
ui::TColor ReadGridStripeColor();
bool ReadGSTInclusive();
bool ReadAlwaysAddFixedTax();
bool ReadFixedTaxFirst();
bool ReadCumulativeTax();
bool ReadFixedInPercent();
void ReadGSTCodes(std::array<std::string, 6>& codes, std::array<rtl::Currency, 6>& rates,
                  std::array<std::string, 6>& descriptions);
void ReadAddTaxFlags(bool& addTax2, bool& addTax3, bool& addTax4);
rtl::Currency ReadFixedTax();
int32_t ReadLanguage();
void ReadTypeDescriptions1To8(std::array<std::string, 8>& names);
void ReadTypeDescriptions9To16(std::array<std::string, 8>& names);
int32_t ReadLastAutoGenNo();
int32_t ReadMaxNoNights();
rtl::TDateTime ReadDefaultArrival();
std::string ReadLanguageFile();
std::string ReadDataDir();
std::string ReadDataBaseFileName();

// The plug-in's own key.
std::string ReadLogIn();
std::string ReadVendorID();
std::string ReadServiceUrl();
int32_t ReadMaxAllocation();
int32_t ReadCurrencyCode();
int32_t ReadFullFlush();
int32_t ReadFlushTime();
int32_t ReadAutoCheck();
bool ReadRecalcOccupancy();
bool ReadShowmessage();

void WriteLogIn(const std::string& value);
void WriteVendorID(const std::string& value);
void WriteServiceUrl(const std::string& value);
void WriteMaxAllocation(int32_t value);
void WriteCurrencyCode(int32_t value);
void WriteFullFlush(int32_t value);
void WriteFlushTime(int32_t value);
void WriteAutoCheck(int32_t value);
void WriteRecalcOccupancy(bool value);
void WriteShowmessage(bool value);

// Room mapping of room type 1 to 16. The numbered accessors are the interface
// the requests and the dialog use; the indexed forms serve loops over the types.
std::string ReadRoomId(int roomType);
void WriteRoomId(int roomType, const std::string& value);
int32_t ReadStopSale(int roomType);
void WriteStopSale(int roomType, int32_t value);

#define VALMORA_ROOM_ACCESSORS(N)                                                 \
  inline std::string ReadRoomId##N() { return ReadRoomId(N); }                    \
  inline void WriteRoomId##N(const std::string& value) { WriteRoomId(N, value); } \
  inline int32_t ReadStopSale##N() { return ReadStopSale(N); }                    \
  inline void WriteStopSale##N(int32_t value) { WriteStopSale(N, value); }
VALMORA_ROOM_ACCESSORS(1)
VALMORA_ROOM_ACCESSORS(2)
VALMORA_ROOM_ACCESSORS(3)
VALMORA_ROOM_ACCESSORS(4)
VALMORA_ROOM_ACCESSORS(5)
VALMORA_ROOM_ACCESSORS(6)
VALMORA_ROOM_ACCESSORS(7)
VALMORA_ROOM_ACCESSORS(8)
VALMORA_ROOM_ACCESSORS(9)
VALMORA_ROOM_ACCESSORS(10)
VALMORA_ROOM_ACCESSORS(11)
VALMORA_ROOM_ACCESSORS(12)
VALMORA_ROOM_ACCESSORS(13)
VALMORA_ROOM_ACCESSORS(14)
VALMORA_ROOM_ACCESSORS(15)
VALMORA_ROOM_ACCESSORS(16)
#undef VALMORA_ROOM_ACCESSORS

// The error state of the last exchange (written only).
void WriteCorvantaHasError(bool value);
void WriteCorvantaErrorMsg(const std::string& value);

}  // namespace valmora
