#include "rtl/Guid.h"

#include <uuid/uuid.h>

#include <cctype>

#include "rtl/Exception.h"
#include "rtl/NumberText.h"

namespace rtl {

TGUID CreateGUID() {
  uuid_t raw;
  uuid_generate_random(raw);
  // The text form reads the first three fields as big-endian numbers.
  TGUID g;
  g.D1 = (uint32_t{raw[0]} << 24) | (uint32_t{raw[1]} << 16) | (uint32_t{raw[2]} << 8) | raw[3];
  g.D2 = static_cast<uint16_t>((raw[4] << 8) | raw[5]);
  g.D3 = static_cast<uint16_t>((raw[6] << 8) | raw[7]);
  for (int i = 0; i < 8; ++i) g.D4[static_cast<size_t>(i)] = raw[8 + i];
  return g;
}

std::string GUIDToString(const TGUID& g) {
  std::string out =
      "{" + IntToHex(g.D1, 8) + "-" + IntToHex(g.D2, 4) + "-" + IntToHex(g.D3, 4) + "-";
  for (int i = 0; i < 8; ++i) {
    if (i == 2) out += '-';
    out += IntToHex(g.D4[static_cast<size_t>(i)], 2);
  }
  return out + "}";
}

TGUID StringToGUID(std::string_view text) {
  auto fail = [&] { throw EConvertError("'" + std::string(text) + "' is not a valid GUID value"); };
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') fail();
  std::string hex;
  for (size_t i = 1; i < 37; ++i) {
    char c = text[i];
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash) {
      if (c != '-') fail();
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) fail();
    hex += c;
  }
  auto field = [&](size_t at, size_t len) {
    return static_cast<uint32_t>(std::stoul(hex.substr(at, len), nullptr, 16));
  };
  TGUID g;
  g.D1 = field(0, 8);
  g.D2 = static_cast<uint16_t>(field(8, 4));
  g.D3 = static_cast<uint16_t>(field(12, 4));
  for (size_t i = 0; i < 8; ++i) g.D4[i] = static_cast<uint8_t>(field(16 + i * 2, 2));
  return g;
}

}  // namespace rtl
