// Typed payloads as byte strings, for tables of conversion and accessor cases,
// and the fixed text conventions those tables run under.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "foundation/VEXFieldTypes.h"
#include "rtl/FormatSettings.h"

namespace vex::test {

struct Payload {
  TVEXBaseFieldType type = bftUnknown;
  std::string bytes;
  // The size handed to the conversion; -1 for terminated text.
  int32_t size = -2;
  int32_t Size() const { return size == -2 ? static_cast<int32_t>(bytes.size()) : size; }
};

inline std::string Hex(const std::string& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", c);
    out += buf;
  }
  return out;
}

namespace payload {

template <class T>
Payload Of(TVEXBaseFieldType type, const T& v, size_t size = sizeof(T)) {
  return Payload{type, std::string(reinterpret_cast<const char*>(&v), size)};
}
inline Payload Ansi(std::string_view s, TVEXBaseFieldType type = bftVarchar) {
  return Payload{type, std::string(s) + '\0'};
}
inline Payload Wide(std::u16string_view s, TVEXBaseFieldType type = bftWideVarchar) {
  std::string bytes(reinterpret_cast<const char*>(s.data()), s.size() * 2);
  bytes.append(2, '\0');
  return Payload{type, bytes};
}
// CLOB payloads carry no terminator; `size` bytes of `s` are the text.
inline Payload Clob(std::string_view s, int32_t size) {
  return Payload{bftClob, std::string(s) + "\xEE\xEE", size};
}
inline Payload WClob(std::u16string_view s, int32_t size) {
  std::string bytes(reinterpret_cast<const char*>(s.data()), s.size() * 2);
  bytes += "\xEE\xEE";
  return Payload{bftWideClob, bytes, size};
}
inline Payload Blob(std::string_view s) { return Payload{bftBlob, std::string(s)}; }
inline Payload I8(int8_t v) { return Of(bftSignedInt8, v); }
inline Payload I16(int16_t v) { return Of(bftSignedInt16, v); }
inline Payload I32(int32_t v) { return Of(bftSignedInt32, v); }
inline Payload I64(int64_t v) { return Of(bftSignedInt64, v); }
inline Payload U8(uint8_t v) { return Of(bftUnsignedInt8, v); }
inline Payload U16(uint16_t v) { return Of(bftUnsignedInt16, v); }
inline Payload U32(uint32_t v) { return Of(bftUnsignedInt32, v); }
inline Payload F32(float v) { return Of(bftSingle, v); }
inline Payload F64(double v) { return Of(bftDouble, v); }
inline Payload Ext(long double v) { return Of(bftExtended, v, 10); }
inline Payload Date(int32_t d) { return Of(bftDate, d); }
inline Payload Time(int32_t t) { return Of(bftTime, t); }
inline Payload DT(int32_t d, int32_t t) { return Of(bftDateTime, TVEXDateTime{d, t}); }
inline Payload Logic(bool v) { return Of(bftLogical, static_cast<uint16_t>(v ? 0xFFFF : 0)); }
inline Payload Curr(double v) { return Of(bftCurrency, v); }

}  // namespace payload

// A locale with ',' decimals and day-first dates ("06.09.2016 12:30:45"), for
// the life of the object.
inline rtl::TFormatSettings CommaSettings() {
  rtl::TFormatSettings s = rtl::TFormatSettings::Invariant();
  s.DecimalSeparator = ',';
  s.ThousandSeparator = '.';
  s.DateSeparator = '.';
  s.TimeSeparator = ':';
  s.ShortDateFormat = "dd/mm/yyyy";
  s.LongTimeFormat = "hh:nn:ss";
  s.ShortTimeFormat = "hh:nn";
  return s;
}

}  // namespace vex::test
