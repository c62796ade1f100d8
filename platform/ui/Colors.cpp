#include "ui/Colors.h"

#include <array>
#include <cctype>
#include <cstring>

#include "rtl/NumberText.h"

namespace ui {

namespace {

struct NamedColor {
  const char* Name;
  TColor Color;
};

constexpr TColor Sys(int index) { return clSystemColor | index; }

constexpr NamedColor kNamedColors[] = {
    {"clBlack", 0x000000},
    {"clMaroon", 0x000080},
    {"clGreen", 0x008000},
    {"clOlive", 0x008080},
    {"clNavy", 0x800000},
    {"clPurple", 0x800080},
    {"clTeal", 0x808000},
    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},
    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},
    {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},
    {"clLtGray", 0xC0C0C0},
    {"clDkGray", 0x808080},
    {"clWhite", 0xFFFFFF},
    {"clMoneyGreen", 0xC0DCC0},
    {"clSkyBlue", 0xF0CAA6},
    {"clCream", 0xF0FBFF},
    {"clMedGray", 0xA4A0A0},
    {"clNone", clNone},
    {"clDefault", clDefault},
    {"clScrollBar", Sys(0)},
    {"clBackground", Sys(1)},
    {"clActiveCaption", Sys(2)},
    {"clInactiveCaption", Sys(3)},
    {"clMenu", Sys(4)},
    {"clWindow", Sys(5)},
    {"clWindowFrame", Sys(6)},
    {"clMenuText", Sys(7)},
    {"clWindowText", Sys(8)},
    {"clCaptionText", Sys(9)},
    {"clActiveBorder", Sys(10)},
    {"clInactiveBorder", Sys(11)},
    {"clAppWorkSpace", Sys(12)},
    {"clHighlight", Sys(13)},
    {"clHighlightText", Sys(14)},
    {"clBtnFace", Sys(15)},
    {"clBtnShadow", Sys(16)},
    {"clGrayText", Sys(17)},
    {"clBtnText", Sys(18)},
    {"clInactiveCaptionText", Sys(19)},
    {"clBtnHighlight", Sys(20)},
    {"cl3DDkShadow", Sys(21)},
    {"cl3DLight", Sys(22)},
    {"clInfoText", Sys(23)},
    {"clInfoBk", Sys(24)},
    {"clHotLight", Sys(26)},
    {"clGradientActiveCaption", Sys(27)},
    {"clGradientInactiveCaption", Sys(28)},
    {"clMenuHighlight", Sys(29)},
    {"clMenuBar", Sys(30)},
};

// The light desktop theme's system colours, as RGB (0xRRGGBB) by index.
constexpr std::array<uint32_t, 31> kSystemRgb = {
    0xC8C8C8, 0x000000, 0x99B4D1, 0xBFCDDB, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000,
    0x000000, 0x000000, 0xB4B4B4, 0xF4F7FC, 0xABABAB, 0x0078D7, 0xFFFFFF, 0xF0F0F0,
    0xA0A0A0, 0x6D6D6D, 0x000000, 0x000000, 0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000,
    0xFFFFE1, 0x000000, 0x0066CC, 0xB9D1EA, 0xD7E4F2, 0x3399FF, 0xF0F0F0};

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

std::optional<TColor> IdentToColor(std::string_view name) {
  for (const auto& entry : kNamedColors)
    if (EqualNoCase(name, entry.Name)) return entry.Color;
  return std::nullopt;
}

std::optional<TColor> TryStringToColor(std::string_view text) {
  if (auto named = IdentToColor(text)) return named;
  int32_t value = 0;
  if (rtl::TryStrToInt(text, value)) return value;
  // A colour written in hexadecimal fills all 32 bits: "$FF00000F" is the
  // system colour 15, not a number too large for a colour.
  int64_t wide = 0;
  if (text.find_first_of("$xX") != std::string_view::npos && rtl::TryStrToInt64(text, wide) &&
      wide > INT32_MAX && wide <= int64_t{UINT32_MAX})
    return static_cast<TColor>(static_cast<uint32_t>(wide));
  return std::nullopt;
}

uint32_t ColorToRGB(TColor color) {
  auto bits = static_cast<uint32_t>(color);
  if ((bits & 0xFF000000u) == 0xFF000000u) {
    uint32_t index = bits & 0xFF;
    uint32_t rgb = index < kSystemRgb.size() ? kSystemRgb[index] : 0;
    // 0xRRGGBB to the colour layout 0x00BBGGRR.
    return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
  }
  return bits & 0x00FFFFFF;
}

}  // namespace ui
