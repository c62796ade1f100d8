// Colours as the GUI framework of the original platform kept them: a 32-bit
// value holding 0x00BBGGRR for an RGB colour, or 0xFF0000nn for the system
// colour with index nn, whose RGB value depends on the desktop theme. Colour
// settings are stored as texts that name a colour ("clCream", "clBtnFace") or
// give its number in decimal or as "$BBGGRR".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ui {

using TColor = int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clCream = 0xF0FBFF;
constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// The colour of a name such as "clRed" (any case), or nothing.
std::optional<TColor> IdentToColor(std::string_view name);
// A name, else a number (decimal, or hexadecimal after "$"); nothing when neither.
std::optional<TColor> TryStringToColor(std::string_view text);

// The RGB value (0x00BBGGRR) of a colour; system colours resolve through the
// default light theme, since this platform has no desktop theme to ask.
uint32_t ColorToRGB(TColor color);

}  // namespace ui
