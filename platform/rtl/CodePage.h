// The 8-bit code page of the system: Windows-1252. Every std::string inside the
// system holds 1252 bytes; wide text is UTF-16 in std::u16string. These routines
// convert at the process boundary (UTF-8 files, the console, XML) and between the
// 8-bit and wide forms, and give the 8-bit case mapping the platform's "Ansi"
// routines follow.
//
// What does not map becomes '?'. The functions taking a `bool* lossy` set it to
// true when that happened (and leave it untouched otherwise), so a caller that
// must refuse a lossy conversion can tell. The five byte values that 1252 leaves
// undefined (0x81 0x8D 0x8F 0x90 0x9D) map to the C1 controls U+0081 ... U+009D
// and back, as the platform's own converter does, so every byte string survives a
// round trip through UTF-8 or UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace rtl {

// One 1252 byte as a UTF-16 code unit, and back ('?' and *lossy for none).
char16_t Win1252ToChar16(char c);
char Char16ToWin1252(char16_t c, bool* lossy = nullptr);

std::u16string Win1252ToUtf16(std::string_view text);
// Surrogate pairs (characters beyond U+FFFF) become one '?'.
std::string Utf16ToWin1252(std::u16string_view text, bool* lossy = nullptr);

std::string Win1252ToUtf8(std::string_view text);
// Malformed UTF-8 bytes become '?' each, as do characters 1252 lacks.
std::string Utf8ToWin1252(std::string_view text, bool* lossy = nullptr);

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// Case mapping over the 1252 letters (accented letters, Š Œ Ž Ÿ). Letters without
// a single-byte counterpart (ß, µ) stay as they are.
std::string AnsiUpperCase(std::string_view text);
std::string AnsiLowerCase(std::string_view text);
char AnsiUpperChar(char c);
char AnsiLowerChar(char c);

// ASCII letters only; every other byte is left alone.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Equal but for the case of ASCII letters; allocates nothing.
bool SameText(std::string_view a, std::string_view b);

}  // namespace rtl
