// The wide-text functions the engine compares and cases UTF-16 text with.
//
// They are bound once, when the engine starts, and only read afterwards:
// the comparison of wide values, the index keys over wide text and the SQL
// engine's UPPER and LOWER all go through the same three functions, so text
// sorts and cases the same way everywhere. They are the platform's own locale
// functions (text/Text.h); no library is ever loaded to provide them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vex {

// The user's default locale, which every engine comparison passes. The platform
// compares in its process-wide collation locale whatever the number says.
inline constexpr uint32_t LOCALE_USER_DEFAULT = 0x400;
// Comparison flags: punctuation and symbols count as characters (always on in
// the engine), and letters that differ only in case are equal.
inline constexpr uint32_t SORT_STRINGSORT = 0x1000;
inline constexpr uint32_t NORM_IGNORECASE = 0x0001;

struct TVEXTextFunctions {
  // Compares Count1 characters of String1 with Count2 of String2 (a negative
  // count: up to the terminator; a text also ends at a terminator within its
  // count). Gives 1 (less), 2 (equal) or 3 (greater), and 0 when the comparison
  // could not be made. The strings must be char16_t-aligned.
  int32_t (*CompareStringW)(uint32_t Locale, uint32_t Flags, const char16_t* String1,
                            int32_t Count1, const char16_t* String2, int32_t Count2);
  // Upper- or lower-cases Length characters in place, keeping the length;
  // gives the number of characters processed.
  uint32_t (*CharUpperBuffW)(char16_t* Text, uint32_t Length);
  uint32_t (*CharLowerBuffW)(char16_t* Text, uint32_t Length);
};

// The bound functions; EVEXEngineNotStarted while none are bound.
const TVEXTextFunctions& BoundTextFunctions();
// Binds the platform's functions and lets them go again: the engine's start-up
// and shut-down only.
void BindTextFunctions();
void UnbindTextFunctions() noexcept;

// Rebinds the functions and gives the previous ones back. For tests that need a
// failing platform; nothing in the engine rebinds them while it runs.
TVEXTextFunctions ReplaceBoundTextFunctions(const TVEXTextFunctions& Functions);

// A copy of S in upper or lower case by the bound functions; the length never
// changes.
std::u16string UpperCaseWideText(std::u16string_view S);
std::u16string LowerCaseWideText(std::u16string_view S);

}  // namespace vex
