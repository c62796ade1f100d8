// Message formatting with typed arguments: the platform's Format routine.
//
// Format("Field '%s' not found (%d)", name, code) reads the directives of the
// pattern and takes one argument per directive, checking its kind. Engine
// messages never go through printf: a pattern and its arguments that do not
// match raise EConvertError instead of reading past the argument list.
//
// Directive:  "%" [index ":"] ["-"] [width] ["." precision] type,  "%%" is a '%'.
//   index      selects the argument (0-based); later directives continue after it
//   "-"        left-justifies within width (default: right)
//   width      minimum length, padded with blanks
//   precision  d u x: minimum digits (zero-padded); s: maximum characters;
//              e g: significant digits (default 15); f n m: decimals
//              (default 2, for m the currency decimals)
//   index, width and precision may be "*": taken from the next integer argument
// Types (either case):
//   d  signed integer         u  unsigned (a negative value as its two's complement)
//   x  upper-case hexadecimal  p  pointer (16 upper-case hex digits)
//   s  text (8-bit, wide, one character)
//   f  fixed   e  scientific "d.ddE+ddd"   g  shortest of fixed and scientific
//   n  fixed with thousand separators   m  money in the currency format
// Integers go only to d u x, floating values and Currency only to e f g n m, text
// only to s; booleans go to none (as on the platform). A mismatch, an unknown
// type or a missing argument raises EConvertError; a surplus argument is ignored.
// Numbers use the decimal and thousand separators of FormatSettings() or of the
// settings given.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "rtl/Currency.h"

namespace rtl {

struct TFormatSettings;

// One argument of Format. Holds views of text arguments, so it must not outlive
// them (Format builds its arguments and uses them within one call).
struct FormatArg {
  enum class Kind : uint8_t {
    Int,   // Signed, 32 or 64 bits wide (smaller types widen to 32)
    UInt,  // Unsigned, 32 or 64
    Float,
    Money,  // Currency
    Bool,
    Char,
    WideChar,
    String,  // 8-bit text
    WideString,
    Pointer
  };

  template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
           !std::is_same_v<T, char16_t> && !std::is_same_v<T, char32_t> &&
           !std::is_same_v<T, wchar_t> && !std::is_same_v<T, char8_t>) FormatArg(T v)
      : Bits(sizeof(T) > 4 ? 64 : 32) {
    if constexpr (std::is_signed_v<T>) {
      kind = Kind::Int;
      I = static_cast<int64_t>(v);
    } else {
      kind = Kind::UInt;
      U = static_cast<uint64_t>(v);
    }
  }
  FormatArg(bool v) : kind(Kind::Bool) { U = v ? 1 : 0; }
  FormatArg(char v) : kind(Kind::Char) { C = v; }
  FormatArg(char16_t v) : kind(Kind::WideChar) { W = v; }
  FormatArg(float v) : kind(Kind::Float) { F = v; }
  FormatArg(double v) : kind(Kind::Float) { F = v; }
  FormatArg(long double v) : kind(Kind::Float) { F = v; }
  FormatArg(Currency v) : kind(Kind::Money) { I = v.Raw; }
  FormatArg(const char* v) : kind(Kind::String), S(v ? v : "") {}
  FormatArg(std::string_view v) : kind(Kind::String), S(v) {}
  FormatArg(const std::string& v) : kind(Kind::String), S(v) {}
  FormatArg(std::u16string_view v) : kind(Kind::WideString), WS(v) {}
  FormatArg(const std::u16string& v) : kind(Kind::WideString), WS(v) {}
  FormatArg(const char16_t* v) : kind(Kind::WideString), WS(v ? v : u"") {}
  FormatArg(const void* v) : kind(Kind::Pointer) { P = v; }

  Kind kind;
  uint8_t Bits = 64;
  union {
    int64_t I;
    uint64_t U;
    long double F;
    char C;
    char16_t W;
    const void* P;
  };
  std::string_view S;
  std::u16string_view WS;
};

// Raises EConvertError on a bad pattern, a missing or a mismatched argument.
std::string FormatV(std::string_view fmt, std::span<const FormatArg> args);
std::string FormatV(std::string_view fmt, std::span<const FormatArg> args,
                    const TFormatSettings& settings);

template <class... A>
std::string Format(std::string_view fmt, const A&... args) {
  const std::array<FormatArg, sizeof...(A)> list{FormatArg(args)...};
  return FormatV(fmt, std::span<const FormatArg>(list.data(), list.size()));
}

}  // namespace rtl
