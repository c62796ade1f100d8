// GUIDs: new random identifiers and their text form "{8-4-4-4-12}" with
// upper-case hexadecimal digits, as the platform writes them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace rtl {

struct TGUID {
  uint32_t D1 = 0;
  uint16_t D2 = 0;
  uint16_t D3 = 0;
  std::array<uint8_t, 8> D4{};

  friend bool operator==(const TGUID&, const TGUID&) = default;
};

// A new random (version 4) GUID.
TGUID CreateGUID();
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string GUIDToString(const TGUID& guid);
// The same form, hex digits in either case; anything else raises EConvertError
// "'...' is not a valid GUID value".
TGUID StringToGUID(std::string_view text);

}  // namespace rtl
